// The ASIO drivers a host can offer: the subkeys of HKEY_LOCAL_MACHINE\SOFTWARE\ASIO, each
// naming its driver's class id, read with the registry calls hosts use, in the calling process.
#pragma once

#include <string>
#include <vector>

#include "user_mode.h"

namespace sim::asiohost {

struct AsioDriverEntry {
  std::u16string name;  // the subkey's name
  std::u16string description;
  CLSID clsid = {};
};

// Entries whose CLSID value is missing or no class id are left out, as hosts skip them.
std::vector<AsioDriverEntry> ListAsioDrivers();

}  // namespace sim::asiohost
