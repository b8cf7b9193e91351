// Recovers an AudioFunctionSpec from raw descriptor bytes, such as the Linux sysfs
// `descriptors` file of a real device (its device descriptor followed by the configuration
// descriptor). The bytes are untrusted: every length is checked against the buffer, and a
// malformed dump is reported with the offset and the reason instead of being guessed at.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/devices/function_spec.h"

namespace sim::devices {

// What the descriptors do not say and a dumped device still needs.
struct DumpDefaults {
  std::optional<UsbSpeed> speed;  // unset: high speed for Audio 2.0, full speed for Audio 1.0
  std::vector<uint32_t> clockRates = {44100, 48000, 88200, 96000, 176400, 192000};
  std::map<uint8_t, std::vector<uint32_t>> clockRatesById;  // per Audio 2.0 clock source
  std::string manufacturer = "Simulated";
  std::string product = "Dumped USB Audio";
  std::string serialNumber = "0001";
};

struct ParsedDump {
  std::optional<AudioFunctionSpec> spec;
  std::string error;  // empty on success
  std::vector<uint8_t> deviceDescriptor;
  std::vector<uint8_t> configurationDescriptor;

  bool Ok() const { return spec.has_value(); }
};

ParsedDump ParseDescriptorDump(std::span<const uint8_t> bytes, const DumpDefaults& defaults = {});
// Just the configuration descriptor (with a device descriptor given separately).
ParsedDump ParseConfiguration(std::span<const uint8_t> device, std::span<const uint8_t> config,
                              const DumpDefaults& defaults = {});

}  // namespace sim::devices
