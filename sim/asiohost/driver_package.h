// Tarnlink_asio.dll as the package ships it: the module the machine installs, with its DllMain
// and its exports by name.
#pragma once

#include "win32/win32_host.h"

namespace sim::asiohost {

tarnlink::win32::ModuleDefinition TarnlinkAsioModule();

}  // namespace sim::asiohost
