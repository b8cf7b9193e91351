#include "sim/devices/audio_controls.h"

#include <algorithm>
#include <type_traits>

#include "sim/devices/byte_writer.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {
namespace {

constexpr uint8_t kGetRequestBit = 0x80;

bool Has(const std::vector<uint32_t>& rates, uint32_t rate) {
  return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

// The level a volume control takes for a written value: silence (0x8000, minus infinity) as it
// is, anything else clamped into the unit's range.
int16_t Level(int16_t wanted, const FeatureUnitSpec& unit) {
  if (wanted == uac::kVolumeSilence) return wanted;
  return std::clamp(wanted, unit.volumeMin, unit.volumeMax);
}

}  // namespace

ControlResult Answer(std::span<uint8_t> data, const std::vector<uint8_t>& bytes) {
  const size_t n = std::min(data.size(), bytes.size());
  std::copy_n(bytes.begin(), n, data.begin());
  return ControlResult::Ack(n);
}

AudioControls::AudioControls(const AudioFunctionSpec& spec, uint64_t validityLagNs)
    : uac2_(spec.version == UacVersion::Uac2),
      interface_(spec.controlInterface),
      lagNs_(validityLagNs) {
  for (const EntitySpec& entity : spec.entities) {
    std::visit(
        [&](const auto& e) {
          using T = std::decay_t<decltype(e)>;
          if constexpr (std::is_same_v<T, ClockSourceSpec>) {
            clocks_[e.bClockID] = {&e, e.rates.empty() ? 0 : e.rates.front(), 0};
          } else if constexpr (std::is_same_v<T, ClockSelectorSpec>) {
            selectors_[e.bClockID] = {&e, 1};
          } else if constexpr (std::is_same_v<T, FeatureUnitSpec>) {
            const size_t channels = e.bmaControls.size();
            features_[e.bUnitID] = {&e, std::vector<uint8_t>(channels, 0),
                                    std::vector<int16_t>(channels, e.volumeMax)};
          } else if constexpr (std::is_same_v<T, InputTerminalSpec>) {
            terminals_[e.bTerminalID] = {e.bmControls, e.bCSourceID, e.bNrChannels,
                                         e.bmChannelConfig, ConnectorState::Connected};
          } else if constexpr (std::is_same_v<T, OutputTerminalSpec>) {
            terminals_[e.bTerminalID] = {e.bmControls, e.bCSourceID, 2, 3,
                                         ConnectorState::Connected};
          }
        },
        entity);
  }
}

ControlResult AudioControls::Request(const BusTime& time,
                                     const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                     std::span<uint8_t> data) {
  if (setup.wIndex.LowByte != interface_) return ControlResult::Stall();
  return uac2_ ? Uac2Request(time, setup, data) : Uac1Request(setup, data);
}

ControlResult AudioControls::Uac2Request(const BusTime& time,
                                         const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                         std::span<uint8_t> data) {
  const bool get = (setup.bmRequestType.B & kGetRequestBit) != 0;
  const uint8_t request = setup.bRequest;
  const uint8_t control = setup.wValue.HiByte;
  const uint8_t channel = setup.wValue.LowByte;
  const uint8_t id = setup.wIndex.HiByte;
  if (request != uac::kCur && request != uac::kRange) return ControlResult::Stall();
  if (auto c = clocks_.find(id); c != clocks_.end() && channel == 0)
    return ClockRequest(c->second, time, get, request, control, data);
  if (auto s = selectors_.find(id); s != selectors_.end() && channel == 0)
    return SelectorRequest(s->second, time, get, request, control, data);
  if (auto t = terminals_.find(id); t != terminals_.end() && channel == 0)
    return TerminalRequest(t->second, get, request, control, data);
  if (auto f = features_.find(id); f != features_.end())
    return FeatureRequest2(f->second, get, request, control, channel, data);
  return ControlResult::Stall();
}

ControlResult AudioControls::ClockRequest(Clock& clock, const BusTime& time, bool get,
                                          uint8_t request, uint8_t control,
                                          std::span<uint8_t> data) {
  const uint32_t controls = clock.spec->bmControls;
  if (control == uac::kCsSamFreq) {
    if (!uac::ControlReadable(controls, 0)) return ControlResult::Stall();
    if (get && request == uac::kCur) return Answer(data, ByteWriter().U32(clock.rate).Take());
    if (get) {
      ByteWriter w;
      w.U16(static_cast<uint32_t>(clock.spec->rates.size()));
      for (uint32_t rate : clock.spec->rates) w.U32(rate).U32(rate).U32(0);
      return Answer(data, w.Take());
    }
    if (request != uac::kCur || !uac::ControlWritable(controls, 0) || data.size() != 4)
      return ControlResult::Stall();
    const uint32_t rate = ReadLe(data.data(), 4);
    if (!Has(clock.spec->rates, rate)) return ControlResult::Stall();
    if (rate != clock.rate) {
      clock.rate = rate;
      clock.validFromNs = time.Nanoseconds() + lagNs_;
    }
    return ControlResult::Ack();
  }
  if (control == uac::kCsClockValid && get && request == uac::kCur &&
      uac::ControlReadable(controls, 1))
    return Answer(data, {static_cast<uint8_t>(time.Nanoseconds() >= clock.validFromNs)});
  return ControlResult::Stall();
}

ControlResult AudioControls::SelectorRequest(Selector& selector, const BusTime& time, bool get,
                                             uint8_t request, uint8_t control,
                                             std::span<uint8_t> data) {
  const uint32_t controls = selector.spec->bmControls;
  if (control != uac::kCxClockSelector || request != uac::kCur ||
      !uac::ControlReadable(controls, 0))
    return ControlResult::Stall();
  if (get) return Answer(data, {selector.pin});
  if (!uac::ControlWritable(controls, 0) || data.size() != 1) return ControlResult::Stall();
  const uint8_t pin = data[0];
  if (pin < 1 || pin > selector.spec->baCSourceID.size()) return ControlResult::Stall();
  if (pin != selector.pin) {
    selector.pin = pin;
    Relock(selector.spec->baCSourceID[pin - 1], time.Nanoseconds());
  }
  return ControlResult::Ack();
}

ControlResult AudioControls::TerminalRequest(const Terminal& terminal, bool get, uint8_t request,
                                             uint8_t control, std::span<uint8_t> data) {
  if (control != uac::kTeConnector || !get || request != uac::kCur ||
      !uac::ControlReadable(terminal.bmControls, 1) ||
      terminal.connector == ConnectorState::Unreadable)
    return ControlResult::Stall();
  // The connector's cluster: no channels while nothing is plugged in.
  const bool connected = terminal.connector == ConnectorState::Connected;
  ByteWriter w;
  w.U8(connected ? terminal.channels : 0);
  w.U32(connected ? terminal.channelConfig : 0).U8(0);
  return Answer(data, w.Take());
}

ControlResult AudioControls::FeatureRequest2(Feature& unit, bool get, uint8_t request,
                                             uint8_t control, uint8_t channel,
                                             std::span<uint8_t> data) {
  if (channel >= unit.mute.size() || (control != uac::kFuMute && control != uac::kFuVolume))
    return ControlResult::Stall();
  const unsigned position = control - 1u;
  const uint32_t controls = unit.spec->bmaControls[channel];
  if (!uac::ControlReadable(controls, position)) return ControlResult::Stall();
  const FeatureUnitSpec& s = *unit.spec;
  if (control == uac::kFuMute) {
    if (request != uac::kCur) return ControlResult::Stall();
    if (get) return Answer(data, {unit.mute[channel]});
    if (!uac::ControlWritable(controls, position) || data.size() != 1)
      return ControlResult::Stall();
    unit.mute[channel] = data[0] ? 1 : 0;
    return ControlResult::Ack();
  }
  if (get && request == uac::kRange) {
    return Answer(data, ByteWriter()
                            .U16(1)
                            .U16(static_cast<uint16_t>(s.volumeMin))
                            .U16(static_cast<uint16_t>(s.volumeMax))
                            .U16(s.volumeRes)
                            .Take());
  }
  if (request != uac::kCur) return ControlResult::Stall();
  if (get)
    return Answer(data, ByteWriter().U16(static_cast<uint16_t>(unit.volume[channel])).Take());
  if (!uac::ControlWritable(controls, position) || data.size() != 2) return ControlResult::Stall();
  unit.volume[channel] = Level(static_cast<int16_t>(ReadLe(data.data(), 2)), s);
  return ControlResult::Ack();
}

ControlResult AudioControls::Uac1Request(const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                         std::span<uint8_t> data) {
  const bool get = (setup.bmRequestType.B & kGetRequestBit) != 0;
  const uint8_t request = setup.bRequest;
  const uint8_t control = setup.wValue.HiByte;
  const uint8_t channel = setup.wValue.LowByte;
  auto f = features_.find(setup.wIndex.HiByte);
  // Reads carry 0x8x codes and writes 0x0x codes; a mismatch with the direction is malformed.
  if (f == features_.end() || get != ((request & kGetRequestBit) != 0))
    return ControlResult::Stall();
  Feature& unit = f->second;
  if (channel >= unit.mute.size() || (control != uac::kFuMute && control != uac::kFuVolume))
    return ControlResult::Stall();
  if ((unit.spec->bmaControls[channel] & (1u << (control - 1))) == 0) return ControlResult::Stall();
  const FeatureUnitSpec& s = *unit.spec;
  if (control == uac::kFuMute) {
    if (request == uac::kGetCur) return Answer(data, {unit.mute[channel]});
    if (request != uac::kSetCur || data.size() != 1) return ControlResult::Stall();
    unit.mute[channel] = data[0] ? 1 : 0;
    return ControlResult::Ack();
  }
  auto word = [&](int32_t v) {
    return Answer(data, ByteWriter().U16(static_cast<uint32_t>(v)).Take());
  };
  switch (request) {
    case uac::kGetCur:
      return word(unit.volume[channel]);
    case uac::kGetMin:
      return word(s.volumeMin);
    case uac::kGetMax:
      return word(s.volumeMax);
    case uac::kGetRes:
      return word(s.volumeRes);
    case uac::kSetCur:
      if (data.size() != 2) return ControlResult::Stall();
      unit.volume[channel] = Level(static_cast<int16_t>(ReadLe(data.data(), 2)), s);
      return ControlResult::Ack();
    default:
      return ControlResult::Stall();
  }
}

void AudioControls::Relock(uint8_t clockId, uint64_t nowNs) {
  if (auto c = clocks_.find(clockId); c != clocks_.end()) c->second.validFromNs = nowNs + lagNs_;
}

std::optional<uint8_t> AudioControls::TerminalClock(uint8_t terminalId) const {
  auto t = terminals_.find(terminalId);
  if (t == terminals_.end()) return std::nullopt;
  uint8_t id = t->second.clock;
  // Follow selectors to the source they pass on; a loop of selectors clocks nothing.
  for (size_t hops = 0; hops <= selectors_.size(); ++hops) {
    if (clocks_.count(id)) return id;
    auto s = selectors_.find(id);
    if (s == selectors_.end() || s->second.pin > s->second.spec->baCSourceID.size())
      return std::nullopt;
    id = s->second.spec->baCSourceID[s->second.pin - 1];
  }
  return std::nullopt;
}

uint32_t AudioControls::ClockRate(uint8_t clockId) const {
  auto c = clocks_.find(clockId);
  return c == clocks_.end() ? 0 : c->second.rate;
}

bool AudioControls::ClockValid(uint8_t clockId, uint64_t nowNs) const {
  auto c = clocks_.find(clockId);
  return c != clocks_.end() && nowNs >= c->second.validFromNs;
}

uint8_t AudioControls::SelectorPin(uint8_t selectorId) const {
  auto s = selectors_.find(selectorId);
  return s == selectors_.end() ? 0 : s->second.pin;
}

bool AudioControls::Mute(uint8_t unitId, uint8_t channel) const {
  auto f = features_.find(unitId);
  return f != features_.end() && channel < f->second.mute.size() && f->second.mute[channel];
}

int16_t AudioControls::Volume(uint8_t unitId, uint8_t channel) const {
  auto f = features_.find(unitId);
  return f != features_.end() && channel < f->second.volume.size() ? f->second.volume[channel] : 0;
}

ConnectorState AudioControls::Connector(uint8_t terminalId) const {
  auto t = terminals_.find(terminalId);
  return t != terminals_.end() ? t->second.connector : ConnectorState::Unreadable;
}

void AudioControls::SetConnector(uint8_t terminalId, ConnectorState state) {
  if (auto t = terminals_.find(terminalId); t != terminals_.end()) t->second.connector = state;
}

}  // namespace sim::devices
