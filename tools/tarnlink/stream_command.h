// `tarnlink play`, `record` and `duplex`: streams through the operating system's audio engine
// and the driver on a simulated machine and reports what reached the other end.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "stream_session.h"

namespace CLI {
class App;
}

namespace tarnlink::tool {

struct StreamOptions {
  StreamRequest request;
  std::string path = "os";
  bool json = false;
  std::string inPath;
  // Given on the command line, rather than defaults: a file's own rate and channels are then
  // held against them.
  bool rateGiven = false;
  bool channelsGiven = false;
  bool secondsGiven = false;
  bool formatGiven = false;
  // Options of the ASIO path, given: refused on the other path.
  std::vector<std::string> asioOptionsGiven;
};

// Adds the three commands; the one parsed fills *options (its directions included).
void AddStreamCommands(CLI::App& program, StreamOptions* options, CLI::App* commands[3]);

// 0 when it ran (whatever it found), 2 when the device or the format was refused, 1 when the
// machine stopped or, after the report, when an --out or --plot file could not be written.
int RunStream(const StreamOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tarnlink::tool
