// The private-requests fuzz run: a client process drives the \asio channel of a started device
// with a script of requests (any code, any input and output lengths and contents, on two
// handles in any state), pauses that let a prepared stream run, and writes into the ring headers
// it was given; then the process ends and the driver unloads.
//
// Input: one byte picks the device (velmor-dac or uac2-playback-only); the rest is read as
// operations, each an opcode byte and its operands:
//   0-3  a request on handle (opcode & 1): a code byte (the channel's codes by index, or any
//        32-bit code after 0xFF), 16-bit input and output lengths, then input bytes
//   4    a prepare on handle 0 or 1 (next byte) whose event handles are the client's own events
//   5    close (or reopen) a handle
//   6    let the machine run a number of milliseconds
//   7    write a 32-bit value into a field of a mapped ring header
// An exhausted script reads as zeros.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnlink::fuzz {

// How far the client got.
struct PrivateRequestsOutcome {
  unsigned prepared = 0;  // successful prepares
  unsigned started = 0;   // successful starts
};

// False when the machine stopped (a verifier finding, a deadlock, a leak at unload), with the
// machine's report in *failure.
bool RunPrivateRequests(std::span<const uint8_t> input, std::string* failure,
                        PrivateRequestsOutcome* outcome = nullptr);

// Seeds: for each device, a client that acquires, prepares, starts, arms and streams a while.
std::vector<std::vector<uint8_t>> PrivateRequestSeeds();

}  // namespace tarnlink::fuzz
