// Interfaces outside the audio function that shipping devices carry beside it: vendor, HID and
// firmware-upgrade interfaces, and a MIDI function. Each is appended after the audio function's
// interfaces under the next free interface number.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/devices/function_spec.h"

namespace sim::devices {

// One interface of the given class with its functional descriptor bytes and, when
// interruptEndpoint is nonzero, an interrupt endpoint of that address.
void AddVendorInterface(AudioFunctionSpec& f, uint8_t cls, uint8_t subclass, uint8_t protocol,
                        const std::vector<uint8_t>& functional, uint8_t interruptEndpoint);
// A MIDI function: its own (Audio 1.0) control interface naming a MIDI streaming interface
// with one embedded jack each way and a bulk endpoint pair.
void AddMidiFunction(AudioFunctionSpec& f, uint8_t outEndpoint, uint8_t inEndpoint);

}  // namespace sim::devices
