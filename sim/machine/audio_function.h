// The audio function of a device as Windows' composite parent driver carves it out: the audio
// control interface and the interfaces that belong with it, and the configuration descriptor the
// function's driver is shown, which holds only those interfaces.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sim::machine {

struct InterfaceSummary {
  uint8_t number = 0;
  uint8_t interfaceClass = 0;
  uint8_t subclass = 0;
};

struct AudioFunctionLayout {
  std::vector<uint8_t> interfaces;     // the function's interface numbers, first one first
  std::vector<uint8_t> configuration;  // the filtered configuration descriptor
  // Every interface of the whole configuration (alternate setting 0), in order.
  std::vector<InterfaceSummary> allInterfaces;

  uint8_t FirstInterface() const { return interfaces.front(); }
  bool Holds(uint8_t number) const;
};

// The function around the first audio control interface (class 1, subclass 1): the interfaces
// of the association descriptor that covers it; without one, those its Audio 1.0 header lists;
// otherwise the audio interfaces that follow it. Nothing when the configuration has no audio
// control interface of the audio class, or is too malformed to walk: such a device can only be
// bound whole.
std::optional<AudioFunctionLayout> FindAudioFunction(std::span<const uint8_t> configuration);

}  // namespace sim::machine
