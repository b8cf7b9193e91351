// Turns an AudioFunctionSpec into the exact descriptor bytes a device of that description
// returns: device descriptor, configuration descriptor with the whole audio function, the
// device qualifier and the string descriptors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/devices/function_spec.h"

namespace sim::devices {

std::vector<uint8_t> BuildDeviceDescriptor(const AudioFunctionSpec& spec);
std::vector<uint8_t> BuildDeviceQualifier(const AudioFunctionSpec& spec);
std::vector<uint8_t> BuildConfigurationDescriptor(const AudioFunctionSpec& spec);
// A string descriptor holding `text` (ASCII) as UTF-16LE, cut at the 126 characters that fit.
std::vector<uint8_t> BuildStringDescriptor(const std::string& text);
// String descriptor 0: the language list (US English only).
std::vector<uint8_t> BuildLanguageList();

// wMaxPacketSize large enough for `maxRate` with one extra frame of slack, per USB audio rules.
uint16_t PacketSizeFor(uint32_t maxRate, UsbSpeed speed, uint8_t bInterval, uint32_t frameBytes);

}  // namespace sim::devices
