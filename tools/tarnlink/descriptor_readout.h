// Reads a device's descriptors the way a host enumerates it, in the sysfs `descriptors` layout:
// the device descriptor, then the whole configuration descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/devices/usb_device.h"

namespace tarnlink::tool {

// Resets the device at `speed` and asks it for both descriptors. False with *error set when it
// stalls or answers with something that is not the descriptor asked for.
bool ReadDescriptors(sim::devices::UsbDevice& device, sim::devices::UsbSpeed speed,
                     std::vector<uint8_t>* bytes, std::string* error);

}  // namespace tarnlink::tool
