// `tarnlink info`: how the driver models a device.
#pragma once

namespace tarnlink::tool {

// argv holds the arguments after "info". Returns the exit code: 0 on success, 2 for a device
// the driver refuses or for bad arguments, 1 when the machine stopped.
int RunInfo(int argc, char** argv);

}  // namespace tarnlink::tool
