// What an ASIO host does, as data: the answers it gives to the driver's messages, how it
// behaves in its buffer switch, and the sequence of calls its main thread makes. One script is
// one host behaviour; the format is described in the README.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "asio_interface.h"

namespace sim::asiohost {

// What the host does when the driver asks it for a reset.
enum class ResetReaction {
  Reopen,    // stop, dispose the buffers, create them again and start
  Recreate,  // stop, dispose, release the driver, create and initialise it anew, and start
  Ignore,
};

struct HostStep {
  enum class Kind {
    Enumerate,      // load, initialise, name and release every listed driver
    Load,           // create the driver through COM
    Init,           // init, then the run's I/O format and rate
    Query,          // the usual questions: name, channels, buffer sizes, rate, latencies, channels
    OutputReady,    // outputReady, whatever the state
    CreateBuffers,  // every channel (or one: dummy) at the run's buffer size
    Start,
    SetRate,        // the current rate (argument "current") or a rate in Hz
    ControlPanel,   // controlPanel, as a host's button for the driver's settings calls it
    WaitSwitches,   // until count more buffer switches have come
    Run,            // streams for the milliseconds given, or the run's length, or until the
                    // host is told to quit; serves resets
    Stop,
    StopInSwitch,   // the next buffer switch calls stop from inside itself
    Dispose,
    Release,
  };
  Kind kind;
  bool dummy = false;  // CreateBuffers
  double number = 0;   // SetRate (0: current), WaitSwitches, Run (0: the run's length)
  std::optional<LONG> expected;  // the result the call must give
  int line = 0;
};

struct HostScript {
  std::string name;
  LONG engineVersion = 2;   // answer to kAsioEngineVersion
  bool timeInfo = true;     // answer to kAsioSupportsTimeInfo
  bool callsOutputReady = true;  // after filling its output in each buffer switch
  ResetReaction onReset = ResetReaction::Reopen;
  std::vector<HostStep> steps;
};

// False with the line and what is wrong in *error.
bool ParseHostScript(std::string_view text, HostScript* script, std::string* error);

// The scripts shipped in sim/asiohost/scripts, one per host behaviour, named after their files.
struct ShippedScript {
  const char* name;
  const char* text;
};
std::span<const ShippedScript> ShippedScripts();
// A shipped script by its name, or else a script file (named after the file); false with what
// is wrong in *error.
bool LoadHostScript(const std::string& nameOrPath, HostScript* script, std::string* error);

// The name of a step, as scripts and reports spell it.
const char* StepName(HostStep::Kind kind);
// ASE_OK, ASE_NotPresent, ...; a failing HRESULT in hexadecimal; a number otherwise.
std::string ResultName(LONG result);

}  // namespace sim::asiohost
