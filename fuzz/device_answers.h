// The device-answers fuzz run: a catalogue device whose answers to the driver's class, vendor
// and string requests, and whose isochronous IN packets, come from the fuzzer, through the whole
// device start, a short stream both ways, a trip through D3 and back, removal and unload.
//
// Input: one byte picks the catalogue device (its index, modulo the catalogue's size); the rest
// is a script read as the device is asked. For each request it covers, one mode byte: 0 passes
// the request to the device, 1 stalls it (an IN packet: no answer), 2 and 3 answer with the
// bytes that follow a length byte (clipped to what the request can carry). An exhausted script
// passes everything on, so the seed of a device is its index alone.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnlink::fuzz {

struct DeviceAnswersOutcome {
  bool started = false;
  size_t transfers = 0;  // submitted, and therefore completed
};

// False when the machine stopped (a verifier finding, a deadlock or a leak at unload), with
// the machine's report in *failure. *outcome (when given) says how far the device got.
bool RunDeviceAnswers(std::span<const uint8_t> input, std::string* failure,
                      DeviceAnswersOutcome* outcome = nullptr);

// The seed that runs catalogue device `index` unchanged.
std::vector<uint8_t> EncodeDeviceAnswersSeed(size_t index);

}  // namespace tarnlink::fuzz
