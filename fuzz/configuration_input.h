// The input of the configuration descriptor fuzz target: one control byte, then the
// configuration descriptor a device answers with.
//   control bits 0..5  which catalogue device lends its device descriptor, strings and controls
//                      (its idVendor and idProduct select the quirks)
//   control bit 6      keep wTotalLength as given instead of setting it to the bytes that follow
//   control bit 7      run the bus at full speed
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/devices/uac_device.h"

namespace tarnlink::fuzz {

struct ConfigurationInput {
  std::unique_ptr<sim::devices::UacDevice> device;
  sim::devices::UsbSpeed speed = sim::devices::UsbSpeed::High;
};

// Null device for an input too short to hold a control byte.
ConfigurationInput DecodeConfigurationInput(std::span<const uint8_t> bytes);
// The input that reproduces catalogue device `index` as it is.
std::vector<uint8_t> EncodeCatalogueDevice(size_t index);

}  // namespace tarnlink::fuzz
