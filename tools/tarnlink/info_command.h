// `tarnlink info`: how the driver models and starts a device.
#pragma once

#include <ostream>
#include <string>

#include "adapter_start.h"
#include "device_source.h"

namespace CLI {
class App;
}

namespace tarnlink::tool {

struct InfoOptions {
  DeviceChoice device;
  bool list = false;  // list the catalogue instead
  bool json = false;
  std::string dumpPath;  // write the device's descriptors there instead of reporting
  StartSettings start;   // the hardware key's values and the host controller
};

// Adds the command and its options to the program's parser; the parsed values land in *options.
CLI::App* AddInfoCommand(CLI::App& program, InfoOptions* options);

// Returns the exit code: 0 on success, 2 for a device the driver refuses or one that cannot be
// plugged in, 1 when the machine stopped.
int RunInfo(const InfoOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tarnlink::tool
