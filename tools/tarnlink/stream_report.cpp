// The streaming interfaces as the report shows them: each alternate setting with its rates,
// channels, endpoints on the bus, and what the driver leaves out of it and why.
#include <algorithm>

#include "driver_types.h"
#include "descriptor_bytes.h"
#include "device_report.h"
#include "endpoint_timing.h"
#include "format_checks.h"
#include "usb_names.h"

namespace tarnlink::tool {
namespace {

constexpr uint8_t kInterfaceDescriptor = 4;
constexpr uint8_t kEndpointDescriptor = 5;
constexpr uint8_t kIsochronous = 1;
// Audio 1.0 endpoints are 9 bytes: bRefresh (a power of two in ms) and bSynchAddress follow.
constexpr size_t kUac1EndpointBytes = 9;

std::string SyncName(const USB_ENDPOINT_DESCRIPTOR& e) {
  static const char* const kSync[] = {"none", "async", "adaptive", "sync"};
  return kSync[(e.bmAttributes >> 2) & 3];
}

std::string UsageName(const USB_ENDPOINT_DESCRIPTOR& e) {
  static const char* const kUsage[] = {"data", "feedback", "implicit_feedback", "reserved"};
  return kUsage[(e.bmAttributes >> 4) & 3];
}

EndpointReport DescribeEndpoint(const USB_ENDPOINT_DESCRIPTOR& e, bool highSpeed, bool feedback) {
  EndpointReport r;
  r.address = e.bEndpointAddress;
  r.sync = SyncName(e);
  r.usage = UsageName(e);
  r.maxPacket = e.wMaxPacketSize;
  r.interval = e.bInterval;
  const EndpointTiming timing = TimingOf(e, highSpeed);
  r.intervalUs = timing.intervalUs;
  r.transactions = timing.transactions;
  r.capacity = timing.Capacity();
  if (feedback) {
    // The driver reads 3-byte values as 10.14 and 4-byte values as 16.16.
    const uint32_t size = e.wMaxPacketSize & 0x7FF;
    r.feedbackFormat = size == 3 ? "10.14" : size >= 4 ? "16.16" : "unknown";
    const auto* raw = reinterpret_cast<const uint8_t*>(&e);
    const uint32_t refresh = DescriptorField(raw, 7, 1);
    r.feedbackPeriodUs = e.bLength >= kUac1EndpointBytes && refresh >= 1 && refresh <= 9
                             ? 1000u << refresh
                             : timing.intervalUs;
  }
  return r;
}

std::vector<std::string> FormatNames(const AltFormat& format, bool uac2) {
  static const char* const kNames[] = {"PCM", "PCM8", "IEEE_FLOAT", "ALAW", "MULAW"};
  std::vector<std::string> names;
  if (uac2) {
    for (uint32_t bit = 0; bit < 32; ++bit) {
      if ((format.bmFormats & (1u << bit)) == 0) continue;
      names.push_back(bit < 5 ? kNames[bit] : "bit" + std::to_string(bit));
    }
  } else if (format.wFormatTag >= 1 && format.wFormatTag <= 5) {
    names.push_back(kNames[format.wFormatTag - 1]);
  } else {
    names.push_back("tag" + std::to_string(format.wFormatTag));
  }
  return names;
}

// Why format selection never picks the setting, in the order it checks.
std::optional<std::string> SkipReason(const USBAudioAltSetting& setting, bool uac2) {
  if (setting.DataEndpoint == nullptr) return "no data endpoint the driver can serve";
  if (setting.GeneralDescriptor == nullptr) return "no AS_GENERAL descriptor";
  if (setting.FormatDescriptor == nullptr) return "no usable FORMAT_TYPE descriptor";
  AltFormat format;
  if (!ReadAltFormat(setting, uac2, &format)) return "not a type I format";
  const auto agrees = [&](USHORT tag) {
    return uac2 ? Uac2FormatsAgree(format.bmFormats, tag) : Uac1TagAgrees(format.wFormatTag, tag);
  };
  if (!agrees(Value(FormatTag::Pcm)) && !agrees(Value(FormatTag::IeeeFloat))) {
    return "neither PCM nor IEEE float";
  }
  if (!ResolutionAgrees(format, uac2)) {
    return "its bit resolution does not match its format (8-bit samples are PCM8, wider ones PCM "
           "or IEEE float)";
  }
  return std::nullopt;
}

// The endpoints of the setting the driver does not use.
std::vector<IgnoredEndpointReport> IgnoredEndpoints(CUSBAudioCL& model,
                                                    const USBAudioAltSetting& setting) {
  std::vector<IgnoredEndpointReport> ignored;
  const auto* config = reinterpret_cast<const uint8_t*>(model.ConfigurationDescriptor());
  const auto* interface = reinterpret_cast<const uint8_t*>(setting.InterfaceDescriptor);
  if (config == nullptr || interface == nullptr) return ignored;
  const uint8_t* end = config + model.ConfigurationDescriptor()->wTotalLength;
  const auto* data = reinterpret_cast<const uint8_t*>(setting.DataEndpoint);
  const uint32_t synchAddress =
      data != nullptr && data[0] >= kUac1EndpointBytes ? DescriptorField(data, 8, 1) : 0;
  ForEachDescriptor(interface + interface[0], end, [&](const uint8_t* d) {
    if (d[1] == kInterfaceDescriptor) return false;
    if (d[1] != kEndpointDescriptor || d[0] < sizeof(USB_ENDPOINT_DESCRIPTOR)) return true;
    const auto* e = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(d);
    if (e == setting.DataEndpoint || e == setting.FeedbackEndpoint) return true;
    IgnoredEndpointReport r;
    r.address = e->bEndpointAddress;
    r.usage = UsageName(*e);
    const EndpointTiming timing = TimingOf(*e, model.IsHighSpeed());
    const bool isochronous = (e->bmAttributes & 3) == kIsochronous;
    if (isochronous && timing.intervalUs > 1000) {
      r.reason = "served only every " + std::to_string(timing.intervalUs / 1000) +
                 " ms, too rarely for the driver to stream through";
    } else if (!model.IsUAC2() && data != nullptr && synchAddress != e->bEndpointAddress) {
      r.reason = "the data endpoint's bSynchAddress does not name it";
    } else {
      r.reason = "the setting's first endpoint of this kind is used instead";
    }
    if (r.usage == "feedback" && model.IsImplicitFeedbackMode()) {
      r.reason += "; playback is paced by the capture stream instead";
    }
    ignored.push_back(std::move(r));
    return true;
  });
  return ignored;
}

AltSettingReport DescribeAlt(CUSBAudioCL& model, const USBAudioAltSetting& setting, uint32_t alt,
                             const std::optional<ClockRates>& clockRates) {
  const bool uac2 = model.IsUAC2();
  AltSettingReport r;
  r.alt = alt;
  AltFormat format;
  if (ReadAltFormat(setting, uac2, &format)) {
    r.channels = format.channels;
    r.subslotBytes = format.containerBits / 8;
    r.bitResolution = format.bitResolution;
    r.formats = FormatNames(format, uac2);
    if (!uac2) {
      const FormatTypeI1* rates = format.uac1Rates;
      r.continuousRates = rates->bSamFreqType == 0;
      const ULONG count = r.continuousRates ? 2 : rates->bSamFreqType;
      r.rates.emplace();
      for (ULONG k = 0; k < count; ++k) r.rates->push_back(FormatTypeI1Rate(rates, k));
    }
  }
  if (uac2) {
    if (clockRates) {
      r.rates = clockRates->rates;
      r.rateSpans = clockRates->spans;
    }
    // AS_GENERAL: bNrChannels at 10, bmChannelConfig at 11.
    const auto* general = reinterpret_cast<const uint8_t*>(setting.GeneralDescriptor);
    if (general != nullptr && general[0] >= 15) {
      r.channelConfig = ChannelNames(DescriptorField(general, 11, 4), true);
    }
  }
  const bool highSpeed = model.IsHighSpeed();
  if (setting.DataEndpoint != nullptr) {
    r.data = DescribeEndpoint(*setting.DataEndpoint, highSpeed, false);
  }
  if (setting.FeedbackEndpoint != nullptr) {
    r.feedback = DescribeEndpoint(*setting.FeedbackEndpoint, highSpeed, true);
  }
  r.ignoredEndpoints = IgnoredEndpoints(model, setting);
  r.skipped = SkipReason(setting, uac2);
  return r;
}

}  // namespace

StreamingReport DescribeStream(CUSBAudioCL& model, USBAudioStreamInterface& s) {
  StreamingReport r;
  r.number = s.InterfaceNumber;
  r.capture = s.Direction == Value(Direction::Capture);
  r.terminalId = s.Terminal->GetID();
  std::optional<ClockRates> clockRates;
  if (CUSBAudioClock* clock = model.TerminalClock(&s)) {
    ULONG minimum = 0, maximum = 0;
    if (NT_SUCCESS(clock->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF))) {
      r.clockRange = {minimum, maximum};
    }
    for (CUSBAudioEntity* source : ClockSourcesOf(model, clock)) {
      const std::optional<ClockRates> rates = ReadClockRates(model, *source);
      if (!rates) continue;
      if (!clockRates) clockRates.emplace();
      clockRates->rates.insert(clockRates->rates.end(), rates->rates.begin(), rates->rates.end());
      clockRates->spans.insert(clockRates->spans.end(), rates->spans.begin(), rates->spans.end());
    }
    if (clockRates) {
      std::vector<uint32_t>& all = clockRates->rates;
      std::sort(all.begin(), all.end());
      all.erase(std::unique(all.begin(), all.end()), all.end());
    }
  }
  for (ULONG alt = 1; alt < s.AltSettingCount; ++alt) {
    r.alts.push_back(DescribeAlt(model, s.AltSettings[alt], alt, clockRates));
  }
  USBAudioStreamInterface* chosen = model.StreamInterface(r.capture ? Value(Direction::Capture)
                                                                    : Value(Direction::Playback));
  r.used = chosen == &s;
  if (!r.used && chosen != nullptr) {
    r.unusedReason = "the driver " + std::string(r.capture ? "captures" : "plays") +
                     " through interface " + std::to_string(chosen->InterfaceNumber) +
                     ", the first of its direction";
  }
  return r;
}

}  // namespace tarnlink::tool
