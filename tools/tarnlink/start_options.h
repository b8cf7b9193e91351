// The options that shape a device's start: values preset in its hardware key, and the host
// controller the driver finds it on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "adapter_start.h"

namespace tarnlink::tool {

// NAME=VALUE: a registry value name (printable ASCII) and a 32-bit number, decimal or
// 0x-prefixed hexadecimal. Returns an empty text when it is one, else what is wrong; the parts
// land in *name and *value where given.
std::string ParseRegistryValue(const std::string& text, std::u16string* name, uint32_t* value);

// amd-ohci, ati or generic (an Intel EHCI).
sim::usb::ControllerIdentity ControllerNamed(const std::string& name);

// One note per preset value the driver never reads: most likely a misspelt one.
std::vector<std::string> UnreadValueNotes(const StartSettings& start);

}  // namespace tarnlink::tool
