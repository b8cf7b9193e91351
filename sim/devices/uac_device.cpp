#include "sim/devices/uac_device.h"

#include <cmath>
#include <sstream>
#include <string>

#include "sim/devices/byte_writer.h"
#include "sim/devices/descriptor_builder.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {
namespace {

// The start of a message about an isochronous endpoint; built only when something is wrong.
std::string EndpointText(const char* direction, uint8_t endpoint) {
  std::ostringstream out;
  out << direction << " endpoint 0x" << std::hex << int{endpoint} << ": ";
  return out.str();
}

constexpr size_t kViolationsKept = 64;

bool Asynchronous(const EndpointSpec& ep) {
  return ep.SyncType() == USB_ENDPOINT_TYPE_ISOCHRONOUS_SYNCHRONIZATION_ASYNCHRONOUS;
}

}  // namespace

DescriptorImage BuildImage(const AudioFunctionSpec& spec) {
  DescriptorImage image{BuildDeviceDescriptor(spec), BuildConfigurationDescriptor(spec), {}};
  if (!spec.manufacturer.empty()) image.strings[image.device[14]] = spec.manufacturer;
  if (!spec.product.empty()) image.strings[image.device[15]] = spec.product;
  if (!spec.serialNumber.empty()) image.strings[image.device[16]] = spec.serialNumber;
  return image;
}

UacDevice::UacDevice(AudioFunctionSpec spec, DeviceBehaviour behaviour)
    : UacDevice(spec, BuildImage(spec), behaviour) {}

UacDevice::UacDevice(AudioFunctionSpec spec, DescriptorImage image, DeviceBehaviour behaviour)
    : spec_(std::move(spec)),
      image_(std::move(image)),
      behaviour_(behaviour),
      controls_(spec_, uint64_t{behaviour.validityLagUs} * 1000),
      speed_(spec_.speed) {
  if (behaviour_.loopback) line_ = std::make_unique<LoopbackLine>(behaviour_.loopbackDelayFrames);
  for (const StreamingInterfaceSpec& s : spec_.streams) {
    streams_.emplace_back();
    streams_.back().spec = &s;
  }
  const std::vector<uint8_t>& config = image_.configuration;
  for (size_t at = 0; at + 4 <= config.size() && config[at] >= 2; at += config[at]) {
    if (config[at + 1] == USB_INTERFACE_DESCRIPTOR_TYPE && !StreamFor(config[at + 2]))
      otherSettings_[config[at + 2]].push_back(config[at + 3]);
  }
}

std::unique_ptr<UacDevice> UacDevice::FromDump(const ParsedDump& dump, DeviceBehaviour behaviour) {
  if (!dump.Ok()) return nullptr;
  DescriptorImage image{dump.deviceDescriptor, dump.configurationDescriptor, {}};
  const AudioFunctionSpec& spec = *dump.spec;
  // A string the defaults leave empty is one the device does not have: its index stalls.
  const auto add = [&](uint8_t index, const std::string& text) {
    if (index != 0 && !text.empty()) image.strings[index] = text;
  };
  add(dump.deviceDescriptor[14], spec.manufacturer);
  add(dump.deviceDescriptor[15], spec.product);
  add(dump.deviceDescriptor[16], spec.serialNumber);
  return std::make_unique<UacDevice>(spec, std::move(image), behaviour);
}

void UacDevice::Reset(UsbSpeed busSpeed) {
  speed_ = busSpeed == UsbSpeed::Full ? UsbSpeed::Full : spec_.speed;
  address_ = 0;
  remoteWakeup_ = false;
  Deconfigure();
}

void UacDevice::Deconfigure() {
  configuration_ = 0;
  halted_.clear();
  otherAlt_.clear();
  for (Stream& s : streams_) {
    s.alt = 0;
    s.started = false;
    s.sink.Stop();
    s.source.Stop();
  }
}

void UacDevice::Violation(const std::string& what) {
  ++violationCount_;
  if (violations_.size() < kViolationsKept) violations_.push_back(what);
}

uint64_t UacDevice::IntervalTicks(const EndpointSpec& ep) const {
  return ep.bInterval <= 1 ? 1 : uint64_t{1} << ((ep.bInterval > 16 ? 16 : ep.bInterval) - 1);
}

const AltSettingSpec* UacDevice::Active(const Stream& s) const {
  if (s.alt == 0 || configuration_ == 0) return nullptr;
  for (size_t i = 0; i < s.spec->alts.size(); ++i) {
    const AltSettingSpec& a = s.spec->alts[i];
    if ((a.bAlternateSetting ? a.bAlternateSetting : i + 1) == s.alt) return &a;
  }
  return nullptr;
}

UacDevice::Stream* UacDevice::StreamFor(uint8_t interfaceNumber) {
  for (Stream& s : streams_)
    if (s.spec->bInterfaceNumber == interfaceNumber) return &s;
  return nullptr;
}

const UacDevice::Stream* UacDevice::StreamFor(uint8_t interfaceNumber) const {
  return const_cast<UacDevice*>(this)->StreamFor(interfaceNumber);
}

UacDevice::Stream* UacDevice::StreamWithEndpoint(uint8_t address, const AltSettingSpec** alt) {
  for (Stream& s : streams_) {
    const AltSettingSpec* a = Active(s);
    if (a && (a->data.bEndpointAddress == address ||
              (a->feedback && a->feedback->bEndpointAddress == address))) {
      *alt = a;
      return &s;
    }
  }
  return nullptr;
}

bool UacDevice::EndpointExists(uint8_t address) const {
  if ((address & USB_ENDPOINT_ADDRESS_MASK) == 0) return true;
  const AltSettingSpec* alt = nullptr;
  return const_cast<UacDevice*>(this)->StreamWithEndpoint(address, &alt) != nullptr;
}

uint32_t UacDevice::StreamRate(const Stream& s, const AltSettingSpec& alt) const {
  if (spec_.version == UacVersion::Uac2) {
    const std::optional<uint8_t> clock = controls_.TerminalClock(s.spec->bTerminalLink);
    return clock ? controls_.ClockRate(*clock) : 0;
  }
  if (auto r = s.endpointRates.find(alt.data.bEndpointAddress); r != s.endpointRates.end())
    return r->second;
  return alt.tSamFreq.empty() ? alt.tLowerSamFreq : alt.tSamFreq.front();
}

bool UacDevice::StreamClockValid(const Stream& s, uint64_t nowNs) const {
  if (spec_.version == UacVersion::Uac1) return true;
  const std::optional<uint8_t> clock = controls_.TerminalClock(s.spec->bTerminalLink);
  return clock && controls_.ClockValid(*clock, nowNs);
}

void UacDevice::StartStream(Stream& s, const AltSettingSpec& alt, uint64_t nowNs) {
  const uint32_t rate = StreamRate(s, alt);
  if (rate == 0 || alt.bFormatType != uac::kFormatTypeI) return;
  const bool dsd = s.kind == uac::kStreamKindDsd;
  if (dsd && alt.bSubslotSize != 4) {
    std::ostringstream out;
    out << "native DSD selected on interface " << int{s.spec->bInterfaceNumber} << " with "
        << int{alt.bSubslotSize} << "-byte subslots";
    Violation(out.str());
  }
  const int64_t ppb = Asynchronous(alt.data) ? std::llround(behaviour_.crystalPpm * 1000) : 0;
  const ClockTimeline clock(rate, ppb, nowNs);
  const SampleLayout layout{alt.bSubslotSize, alt.bBitResolution};
  if (alt.data.In()) {
    s.source.Start({alt.bNrChannels, layout, behaviour_.captureHoldbackFrames, line_.get()}, clock);
  } else {
    SinkFormat format{alt.bNrChannels,
                      layout,
                      speed_ == UsbSpeed::High ? 8000u : 1000u,
                      static_cast<uint32_t>(uint64_t{rate} * behaviour_.fifoMs / 1000),
                      static_cast<uint32_t>(uint64_t{rate} * behaviour_.targetMs / 1000),
                      behaviour_.keepSamples,
                      line_.get()};
    s.sink.Start(format, clock, dsd);
  }
  s.started = true;
}

void UacDevice::StartOfFrame(const BusTime& time) {
  const uint64_t now = time.Nanoseconds();
  for (Stream& s : streams_) {
    const AltSettingSpec* alt = Active(s);
    if (!alt) continue;
    const uint32_t rate = StreamRate(s, *alt);
    const uint32_t running = alt->data.In() ? s.source.Clock().Rate() : s.sink.Clock().Rate();
    // A rate change or a clock that lost its lock restarts the stream at the new rate.
    if (s.started && (rate != running || !StreamClockValid(s, now))) {
      s.started = false;
      s.sink.Stop();
      s.source.Stop();
    }
    if (!s.started && StreamClockValid(s, now)) StartStream(s, *alt, now);
    if (s.started && !alt->data.In()) s.sink.Advance(now);
  }
}

ControlResult UacDevice::Control(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                 std::span<uint8_t> data) {
  switch (setup.bmRequestType.s.Type) {
    case BMREQUEST_STANDARD:
      return Standard(time, setup, data);
    case BMREQUEST_CLASS:
      return Class(time, setup, data);
    case BMREQUEST_VENDOR:
      return Vendor(setup, data);
    default:
      return ControlResult::Stall();
  }
}

IsoStatus UacDevice::IsoOut(const BusTime& time, uint8_t endpoint,
                            std::span<const uint8_t> packet) {
  const AltSettingSpec* alt = nullptr;
  Stream* s = StreamWithEndpoint(endpoint, &alt);
  const auto violation = [&](const std::string& what) {
    Violation(EndpointText("OUT", endpoint) + what);
  };
  if (!s || alt->data.bEndpointAddress != endpoint || alt->data.In()) {
    violation("not active in the current alternate setting");
    return IsoStatus::NoResponse;
  }
  if (packet.size() > alt->data.Capacity()) {
    violation(std::to_string(packet.size()) + "-byte packet exceeds wMaxPacketSize");
    return IsoStatus::Babble;
  }
  std::span<const uint8_t> payload = packet;
  if (behaviour_.playbackLengthHeader) {
    const size_t length = packet.size() >= 4 ? ReadLe(packet.data(), 4) : 0;
    if (packet.size() < 4 || length != packet.size() - 4) {
      violation("length header does not match the " + std::to_string(packet.size()) +
                "-byte packet");
      return IsoStatus::Ok;
    }
    payload = packet.subspan(4);
  }
  if (payload.empty()) return IsoStatus::Ok;
  if (!s->started) {
    violation("audio sent while the clock is not valid");
    return IsoStatus::Ok;
  }
  const uint32_t frameBytes = alt->FrameBytes();
  if (frameBytes == 0 || payload.size() % frameBytes != 0) {
    violation(std::to_string(payload.size()) + " bytes are not whole " +
              std::to_string(frameBytes) + "-byte frames");
  } else {
    // Frames per packet must stay within the tolerance of the nominal rate.
    const uint64_t perPacket = uint64_t{s->sink.Clock().Rate()} * IntervalTicks(alt->data);
    const uint64_t tps = time.TicksPerSecond();
    const uint64_t low = perPacket / tps, high = (perPacket + tps - 1) / tps;
    const uint64_t frames = payload.size() / frameBytes,
                   tolerance = behaviour_.packetToleranceFrames;
    if (frames + tolerance < low || frames > high + tolerance)
      violation(std::to_string(frames) + "-frame packet outside " + std::to_string(low) + ".." +
                std::to_string(high) + " +/- " + std::to_string(tolerance));
  }
  s->sink.Receive(payload, time.Nanoseconds());
  return IsoStatus::Ok;
}

IsoInResult UacDevice::IsoIn(const BusTime& time, uint8_t endpoint, std::span<uint8_t> buffer) {
  const AltSettingSpec* alt = nullptr;
  Stream* s = StreamWithEndpoint(endpoint, &alt);
  if (!s || (endpoint & USB_ENDPOINT_DIRECTION_MASK) == 0) {
    Violation(EndpointText("IN", endpoint) + "not active in the current alternate setting");
    return {IsoStatus::NoResponse, 0};
  }
  if (alt->data.bEndpointAddress == endpoint) {
    const size_t room = buffer.size() < alt->data.Capacity() ? buffer.size() : alt->data.Capacity();
    if (!s->started) return {IsoStatus::Ok, 0};
    // The input hears what the output has played up to this moment.
    if (line_) {
      for (Stream& other : streams_) {
        if (other.started && other.sink.Running()) other.sink.Advance(time.Nanoseconds());
      }
    }
    const uint64_t intervalNs = IntervalTicks(alt->data) * time.TickNanoseconds();
    return {IsoStatus::Ok, s->source.Produce(time.Nanoseconds(), intervalNs, buffer.first(room))};
  }
  // Explicit feedback: 16.16 in four bytes at high speed, 10.14 in three bytes at full speed.
  ++feedbackPackets_;
  const bool high = time.speed == UsbSpeed::High;
  uint32_t value =
      s->started ? s->sink.Feedback(time.Nanoseconds())
                 : ClockTimeline(StreamRate(*s, *alt), 0, 0).PerTick16_16(time.TicksPerSecond());
  const bool first = feedback_.ticksPerSecond == 0;
  feedback_.last = value;
  feedback_.lowest = first || value < feedback_.lowest ? value : feedback_.lowest;
  feedback_.highest = first || value > feedback_.highest ? value : feedback_.highest;
  feedback_.ticksPerSecond = time.TicksPerSecond();
  if (!high) value >>= 2;
  const size_t length = high ? 4 : 3;
  const size_t n = buffer.size() < length ? buffer.size() : length;
  for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<uint8_t>(value >> (8 * i));
  return {IsoStatus::Ok, n};
}

std::optional<SampleLayout> UacDevice::CurrentLayout(uint8_t interfaceNumber) const {
  const uint8_t alt = AlternateSetting(interfaceNumber);
  for (const auto& stream : spec_.streams) {
    if (stream.bInterfaceNumber != interfaceNumber || alt == 0 || alt > stream.alts.size()) continue;
    const auto& setting = stream.alts[alt - 1];
    return SampleLayout{setting.bSubslotSize, setting.bBitResolution};
  }
  return std::nullopt;
}

uint8_t UacDevice::AlternateSetting(uint8_t interfaceNumber) const {
  const Stream* s = StreamFor(interfaceNumber);
  if (s) return s->alt;
  auto other = otherAlt_.find(interfaceNumber);
  return other == otherAlt_.end() ? 0 : other->second;
}

bool UacDevice::InterfaceExists(uint8_t interfaceNumber) const {
  return StreamFor(interfaceNumber) || otherSettings_.count(interfaceNumber);
}

uint16_t UacDevice::StreamKind(uint8_t interfaceNumber) const {
  const Stream* s = StreamFor(interfaceNumber);
  return s ? s->kind : 0;
}

uint32_t UacDevice::EndpointRate(uint8_t endpointAddress) const {
  for (const Stream& s : streams_)
    for (size_t i = 0; i < s.spec->alts.size(); ++i)
      if (s.spec->alts[i].data.bEndpointAddress == endpointAddress) {
        const AltSettingSpec& a = s.spec->alts[i];
        auto r = s.endpointRates.find(endpointAddress);
        if (r != s.endpointRates.end()) return r->second;
        return a.tSamFreq.empty() ? a.tLowerSamFreq : a.tSamFreq.front();
      }
  return 0;
}

const PlaybackSink* UacDevice::Sink(uint8_t interfaceNumber) const {
  const Stream* s = StreamFor(interfaceNumber);
  return s ? &s->sink : nullptr;
}

const CaptureSource* UacDevice::Source(uint8_t interfaceNumber) const {
  const Stream* s = StreamFor(interfaceNumber);
  return s ? &s->source : nullptr;
}

}  // namespace sim::devices
