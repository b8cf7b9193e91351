// The audio control interface of a simulated function: clock sources and selectors, terminals
// and feature units, answering the class requests addressed to them as the USB Audio Class
// 1.0 and 2.0 specifications define them. Anything else stalls.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "sim/devices/function_spec.h"
#include "sim/devices/usb_device.h"

namespace sim::devices {

// What a terminal's connector control answers: a plug is in, none is, or the read stalls (as
// on a device whose jack detection is broken).
enum class ConnectorState { Connected, Unplugged, Unreadable };

class AudioControls {
 public:
  // `validityLagNs`: how long a clock reports itself invalid after a rate change or a selector
  // switch, as a PLL needs time to lock.
  AudioControls(const AudioFunctionSpec& spec, uint64_t validityLagNs);

  // A class request whose wIndex names an entity of the audio control interface.
  ControlResult Request(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                        std::span<uint8_t> data);

  // The clock source that ends up clocking a terminal (Audio 2.0), through any selector.
  std::optional<uint8_t> TerminalClock(uint8_t terminalId) const;
  uint32_t ClockRate(uint8_t clockId) const;
  bool ClockValid(uint8_t clockId, uint64_t nowNs) const;
  uint8_t SelectorPin(uint8_t selectorId) const;
  bool Mute(uint8_t unitId, uint8_t channel) const;
  int16_t Volume(uint8_t unitId, uint8_t channel) const;
  // Whether the entity exists (a terminal for the connector, a feature unit for the others).
  bool HasTerminal(uint8_t terminalId) const { return terminals_.count(terminalId) != 0; }
  bool HasFeatureUnit(uint8_t unitId) const { return features_.count(unitId) != 0; }
  ConnectorState Connector(uint8_t terminalId) const;
  void SetConnector(uint8_t terminalId, ConnectorState state);

 private:
  struct Clock {
    const ClockSourceSpec* spec = nullptr;
    uint32_t rate = 0;
    uint64_t validFromNs = 0;
  };
  struct Selector {
    const ClockSelectorSpec* spec = nullptr;
    uint8_t pin = 1;
  };
  struct Feature {
    const FeatureUnitSpec* spec = nullptr;
    std::vector<uint8_t> mute;
    std::vector<int16_t> volume;
  };
  struct Terminal {
    uint16_t bmControls = 0;
    uint8_t clock = 0;
    uint8_t channels = 2;
    uint32_t channelConfig = 3;
    ConnectorState connector = ConnectorState::Connected;
  };

  ControlResult Uac2Request(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                            std::span<uint8_t> data);
  ControlResult Uac1Request(const USB_DEFAULT_PIPE_SETUP_PACKET& setup, std::span<uint8_t> data);
  ControlResult ClockRequest(Clock& clock, const BusTime& time, bool get, uint8_t request,
                             uint8_t selector, std::span<uint8_t> data);
  ControlResult SelectorRequest(Selector& selector, const BusTime& time, bool get, uint8_t request,
                                uint8_t control, std::span<uint8_t> data);
  ControlResult TerminalRequest(const Terminal& terminal, bool get, uint8_t request,
                                uint8_t control, std::span<uint8_t> data);
  ControlResult FeatureRequest2(Feature& unit, bool get, uint8_t request, uint8_t control,
                                uint8_t channel, std::span<uint8_t> data);
  void Relock(uint8_t clockId, uint64_t nowNs);

  bool uac2_;
  uint8_t interface_;
  uint64_t lagNs_;
  std::map<uint8_t, Clock> clocks_;
  std::map<uint8_t, Selector> selectors_;
  std::map<uint8_t, Feature> features_;
  std::map<uint8_t, Terminal> terminals_;
};

// Copies an answer into the data stage, honouring a shorter wLength as the class allows.
ControlResult Answer(std::span<uint8_t> data, const std::vector<uint8_t>& bytes);

}  // namespace sim::devices
