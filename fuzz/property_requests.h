// The property-requests fuzz run: the operating system's side opens the wave filter of a
// started device and sends it kernel-streaming property requests of any set, id, flags, node,
// instance and value (sizes and contents), with the device's jacks changing under it; then the
// device is unplugged and the driver unloads.
//
// Input: one byte picks the device (velmor-dac or uac2-playback-only); the rest is read as
// operations, each an opcode byte and its operands:
//   0-5  a request: a set byte (the filter's sets by index, any GUID after 0xFF), a 32-bit id
//        and flags, a 32-bit node or pin and a 32-bit channel (present when the request length
//        reaches them), a 16-bit request length and value length, then the value's bytes for a
//        SET
//   6    the connector of every terminal becomes connected, unplugged or unreadable (next byte)
//   7    let the machine run a number of milliseconds
// An exhausted script reads as zeros.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnlink::fuzz {

struct PropertyRequestsOutcome {
  unsigned succeeded = 0;  // requests the filter answered with a success
};

// False when the machine stopped (a verifier finding, a deadlock, a leak at unload) or the
// filter wrote outside a value, with the report in *failure.
bool RunPropertyRequests(std::span<const uint8_t> input, std::string* failure,
                         PropertyRequestsOutcome* outcome = nullptr);

// Seeds: for each device, the requests the endpoint builder and the volume control send.
std::vector<std::vector<uint8_t>> PropertyRequestSeeds();

}  // namespace tarnlink::fuzz
