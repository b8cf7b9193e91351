#include "device_report.h"

#include <cstdio>

#include "audio_trace_points.h"
#include "driver_types.h"
#include "format_checks.h"
#include "usb_trace_points.h"

namespace tarnlink::tool {
namespace {

EndpointReport DescribeEndpoint(const USB_ENDPOINT_DESCRIPTOR& e) {
  static const char* const kSync[] = {"none", "async", "adaptive", "sync"};
  static const char* const kUsage[] = {"data", "feedback", "implicit_feedback", "reserved"};
  EndpointReport r;
  r.address = e.bEndpointAddress;
  r.sync = kSync[(e.bmAttributes >> 2) & 3];
  r.usage = kUsage[(e.bmAttributes >> 4) & 3];
  r.maxPacket = e.wMaxPacketSize;
  r.interval = e.bInterval;
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

AltSettingReport DescribeAlt(const USBAudioAltSetting& setting, uint32_t alt, bool uac2) {
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
  if (setting.DataEndpoint != nullptr) r.data = DescribeEndpoint(*setting.DataEndpoint);
  if (setting.FeedbackEndpoint != nullptr) r.feedback = DescribeEndpoint(*setting.FeedbackEndpoint);
  return r;
}

EntityReport DescribeEntity(CUSBAudioEntity& e, bool uac2) {
  EntityReport r;
  r.id = e.GetID();
  char name[32];
  e.GetName(name, sizeof(name));
  r.name = name;
  switch (e.Subtype()) {
    case uac::ac::kInputTerminal:
      r.kind = "input_terminal";
      break;
    case uac::ac::kOutputTerminal:
      r.kind = "output_terminal";
      break;
    case uac::ac::kFeatureUnit:
      r.kind = "feature_unit";
      break;
    case uac::ac2::kClockSource:
      r.kind = uac2 ? "clock_source" : "other";
      break;
    case uac::ac2::kClockSelector:
      r.kind = uac2 ? "clock_selector" : "other";
      break;
    case uac::ac1::kProcessingUnit:
      r.kind = uac2 ? "other" : "processing_unit";
      break;
    default:
      r.kind = "other";
      break;
  }
  if (e.IsTerminal()) {
    r.terminalType = e.TerminalType();
    const ULONG clock = static_cast<CUSBAudioTerminal&>(e).GetClockSourceID();
    if (clock != kNoEntityId) r.clockId = clock;
  }
  if (r.kind == "output_terminal" || r.kind == "feature_unit") {
    r.sourceIds.push_back(e.GetSourceID(0));
  } else if (r.kind == "clock_selector") {
    auto& selector = static_cast<CUSBAudioClockSelector&>(e);
    for (ULONG i = 0; i < selector.InputCount(); ++i) r.sourceIds.push_back(e.GetSourceID(i));
  }
  return r;
}

std::string ProductString(CUSBAudioCL& model) {
  const UCHAR index = model.DeviceDescriptor().iProduct;
  if (index == 0) return "";
  USBStringDescriptor record;
  if (!NT_SUCCESS(model.GetStringDescriptor(index, 0, &record))) return "";
  std::string text;
  for (ULONG i = 0; i < record.CharacterCount(); ++i) {
    const WCHAR c = record.CharacterAt(i);
    text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return text;
}

// The driver's failure trace points of a start, each with what it means for the device.
struct RefusalPoint {
  uint32_t id;
  const char* reason;
};

constexpr const char* kFunctionDidNotStart =
    "the USB function did not start: a descriptor could not be read, or its length did not match "
    "what the device announced";
constexpr const char* kNoValidHeader =
    "the audio control interface has no valid HEADER, or its class-specific block reaches past "
    "the interface";
constexpr const char* kNotModelled =
    "an entity or a streaming interface could not be modelled: a descriptor is missing or "
    "malformed, or a reference names no entity";

constexpr RefusalPoint kRefusalPoints[] = {
    {kTraceUsbdHandleFailed, kFunctionDidNotStart},
    {kTraceBusInterfaceFailed, kFunctionDidNotStart},
    {kTraceDescriptorReadFailed, kFunctionDidNotStart},
    {kTraceDescriptorLengthMismatch, kFunctionDidNotStart},
    {kTraceStartFunctionFailed, kFunctionDidNotStart},
    {kTraceAudioControlMissing, "the configuration has no audio control interface"},
    {kTraceAudioHeaderInvalid, kNoValidHeader},
    {kTraceAudioBlockTooLong, kNoValidHeader},
    {kTraceEntityLinkFailed, kNotModelled},
    {kTraceStreamingInterfaceFailed, kNotModelled},
    {kTraceTerminalLinkMissing, kNotModelled},
};

// The reason of the last failure point the start recorded.
std::string RefusalReason(const std::vector<uint32_t>& tracePoints, NTSTATUS status) {
  if (status == STATUS_NOT_IMPLEMENTED) {
    return "the last audio control entity is a processing unit, which the driver does not model";
  }
  for (auto id = tracePoints.rbegin(); id != tracePoints.rend(); ++id) {
    for (const RefusalPoint& point : kRefusalPoints) {
      if (point.id == *id) return point.reason;
    }
  }
  return kNotModelled;
}

std::vector<MaxFormatReport> MaxFormats(CUSBAudioCL& model, ULONG direction) {
  std::vector<MaxFormatReport> formats;
  if (model.StreamInterface(direction) == nullptr) return formats;
  for (uint32_t rate : ReportedPcmRates()) {
    MaxFormatReport r;
    r.rate = rate;
    // Float first, as the stream engine asks.
    for (USHORT tag : {Value(FormatTag::IeeeFloat), Value(FormatTag::Pcm)}) {
      ULONG channels = 0, bits = 0;
      if (NT_SUCCESS(model.GetMaxFormat(direction, tag, rate, &channels, &bits))) {
        r.tag = tag;
        r.channels = channels;
        r.containerBits = bits;
        formats.push_back(r);
        break;
      }
    }
  }
  return formats;
}

}  // namespace

const std::vector<uint32_t>& ReportedPcmRates() {
  static const std::vector<uint32_t> rates = {32000,  44100,   48000,  88200,  96000,
                                              176400, 192000,  352800, 384000, 705600,
                                              768000, 1411200, 1536000};
  return rates;
}

std::string StatusText(NTSTATUS status) {
  struct Name {
    NTSTATUS status;
    const char* text;
  };
  static const Name kNames[] = {
      {STATUS_SUCCESS, "STATUS_SUCCESS"},
      {STATUS_UNSUCCESSFUL, "STATUS_UNSUCCESSFUL"},
      {STATUS_NOT_SUPPORTED, "STATUS_NOT_SUPPORTED"},
      {STATUS_NOT_IMPLEMENTED, "STATUS_NOT_IMPLEMENTED"},
      {STATUS_INVALID_PARAMETER, "STATUS_INVALID_PARAMETER"},
      {STATUS_INSUFFICIENT_RESOURCES, "STATUS_INSUFFICIENT_RESOURCES"},
      {STATUS_INVALID_DEVICE_REQUEST, "STATUS_INVALID_DEVICE_REQUEST"},
  };
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(status));
  for (const Name& n : kNames) {
    if (n.status == status) return std::string(n.text) + " (" + hex + ")";
  }
  return hex;
}

DeviceReport CollectReport(CUSBAudioCL& model, const ProbeStatus& status) {
  DeviceReport r;
  const NTSTATUS failed = !NT_SUCCESS(status.initialize) ? status.initialize : status.configure;
  if (!NT_SUCCESS(failed)) {
    r.refused = true;
    r.status = failed;
    r.reason = !NT_SUCCESS(status.initialize)
                   ? RefusalReason(status.tracePoints, failed)
                   : "the device refused the configuration or an alternate setting 0";
    return r;
  }
  const bool uac2 = model.IsUAC2();
  r.uac2 = uac2;
  r.highSpeed = model.IsHighSpeed();
  r.vendorId = model.DeviceDescriptor().idVendor;
  r.productId = model.DeviceDescriptor().idProduct;
  r.product = ProductString(model);
  r.controlInterface = model.AudioControlInterfaceNumber();
  const UsbAudioQuirks& q = model.Quirks();
  if (q.audioClass == uac::kInterfaceClassVendor) r.quirks.push_back("vendor_interface_class");
  if (q.configureAllInterfaces) r.quirks.push_back("configure_all_interfaces");
  if (q.playbackLengthHeader) r.quirks.push_back("playback_length_header");
  if (q.widePacketWindow) r.quirks.push_back("wide_packet_window");
  if (model.PlaybackInterface() != nullptr) {
    r.playbackInterface = model.PlaybackInterface()->InterfaceNumber;
  }
  if (model.CaptureInterface() != nullptr) {
    r.captureInterface = model.CaptureInterface()->InterfaceNumber;
  }
  r.sharedClock = model.SharesOneClock();
  r.implicitFeedback = model.ImplicitFeedbackPairing();
  for (CUSBAudioEntity* e = model.FirstEntity(); e != nullptr; e = e->Next()) {
    r.entities.push_back(DescribeEntity(*e, uac2));
  }
  for (USBAudioStreamInterface* s = model.FirstStreamInterface(); s != nullptr; s = s->Next) {
    StreamingReport sr;
    sr.number = s->InterfaceNumber;
    sr.capture = s->Direction == Value(Direction::Capture);
    sr.terminalId = s->Terminal->GetID();
    if (CUSBAudioClock* clock = model.TerminalClock(s)) {
      ULONG minimum = 0, maximum = 0;
      if (NT_SUCCESS(clock->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF))) {
        sr.clockRange = {minimum, maximum};
      }
    }
    for (ULONG alt = 1; alt < s->AltSettingCount; ++alt) {
      sr.alts.push_back(DescribeAlt(s->AltSettings[alt], alt, uac2));
    }
    r.streams.push_back(std::move(sr));
  }
  r.maxFormats[0] = MaxFormats(model, Value(Direction::Playback));
  r.maxFormats[1] = MaxFormats(model, Value(Direction::Capture));
  return r;
}

}  // namespace tarnlink::tool
