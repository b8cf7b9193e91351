// What the runs of a client against a started catalogue device share: the script the fuzzer
// wrote, read front to back (an exhausted script reads as zeros), the machine with the device
// started, and the machine's report when it stopped.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "driver_entry.h"
#include "kernel/host_kernel.h"
#include "sim/machine/machine.h"

namespace tarnlink::fuzz {

class ClientScript {
 public:
  explicit ClientScript(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Done() const { return at_ >= bytes_.size(); }
  uint8_t Byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
  uint16_t Half() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t Word() { return Half() | static_cast<uint32_t>(Half()) << 16; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

// Loads the driver and starts the named catalogue device; false with *failure set otherwise.
inline bool StartCatalogueDevice(sim::machine::Machine& machine, const char* name,
                                 std::string* failure) {
  if (NT_SUCCESS(machine.LoadDriver()) && NT_SUCCESS(machine.PlugCatalogueDevice(name)))
    return true;
  *failure = "the device did not start";
  return false;
}

inline std::string StopReport(kernel::HostKernel& kernel) {
  const kernel::StopInfo* stop = kernel.Stop();
  return stop != nullptr ? stop->report : "the run failed without a stop report";
}

}  // namespace tarnlink::fuzz
