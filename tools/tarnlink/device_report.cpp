#include "device_report.h"

#include <cstdio>
#include <set>

#include "audio_trace_points.h"
#include "descriptor_bytes.h"
#include "driver_types.h"
#include "endpoint_timing.h"
#include "format_checks.h"
#include "usb_names.h"
#include "usb_trace_points.h"

namespace tarnlink::tool {
namespace {

constexpr uint8_t kInterfaceDescriptor = 4;

std::optional<std::string> StringOf(CUSBAudioCL& model, UCHAR index) {
  if (index == 0) return std::nullopt;
  USBStringDescriptor record;
  if (!NT_SUCCESS(model.GetStringDescriptor(index, 0, &record))) return std::nullopt;
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

// Which setting format selection takes for the format, and whether its packets fit there.
void CheckPacketFit(CUSBAudioCL& model, USBAudioStreamInterface* record, MaxFormatReport* r) {
  ULONG channels = 0, containerBits = 0, alt = 0;
  if (!NT_SUCCESS(model.FindAltSetting(record, static_cast<USHORT>(r->tag), r->channels,
                                       r->containerBits, r->rate, &channels, &containerBits,
                                       &alt)) ||
      alt == 0 || record->AltSettings[alt].DataEndpoint == nullptr) {
    return;
  }
  const EndpointTiming timing =
      TimingOf(*record->AltSettings[alt].DataEndpoint, model.IsHighSpeed());
  r->alt = alt;
  r->largestPacket = LargestPacketBytes(channels * (containerBits / 8), r->rate, timing.intervalUs);
  r->endpointCapacity = timing.Capacity();
}

std::vector<MaxFormatReport> MaxFormats(CUSBAudioCL& model, ULONG direction) {
  std::vector<MaxFormatReport> formats;
  USBAudioStreamInterface* record = model.StreamInterface(direction);
  if (record == nullptr) return formats;
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
        CheckPacketFit(model, record, &r);
        formats.push_back(r);
        break;
      }
    }
  }
  return formats;
}

// The interfaces of the configuration that are neither the audio control interface nor a
// streaming interface of the model.
std::vector<IgnoredInterfaceReport> IgnoredInterfaces(CUSBAudioCL& model) {
  std::set<uint32_t> modelled = {model.AudioControlInterfaceNumber()};
  for (USBAudioStreamInterface* s = model.FirstStreamInterface(); s != nullptr; s = s->Next) {
    modelled.insert(s->InterfaceNumber);
  }
  std::vector<IgnoredInterfaceReport> ignored;
  const auto* config = reinterpret_cast<const uint8_t*>(model.ConfigurationDescriptor());
  std::set<uint32_t> seen;
  ForEachDescriptor(config, config + model.ConfigurationDescriptor()->wTotalLength,
                    [&](const uint8_t* d) {
                      if (d[1] != kInterfaceDescriptor || d[0] < sizeof(USB_INTERFACE_DESCRIPTOR)) {
                        return true;
                      }
                      const auto* i = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(d);
                      if (modelled.count(i->bInterfaceNumber) != 0 ||
                          !seen.insert(i->bInterfaceNumber).second) {
                        return true;
                      }
                      IgnoredInterfaceReport r;
                      r.number = i->bInterfaceNumber;
                      r.kind = InterfaceClassName(i->bInterfaceClass, i->bInterfaceSubClass);
                      r.reason = r.kind == "audio streaming"
                                     ? "the driver could not model it (a setting or its "
                                       "terminal link is missing or malformed)"
                                     : "not audio the driver streams";
                      if (model.Quirks().configureAllInterfaces) {
                        r.reason += "; selected in the configuration, never driven";
                      }
                      ignored.push_back(std::move(r));
                      return true;
                    });
  return ignored;
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
  const USB_DEVICE_DESCRIPTOR& device = model.DeviceDescriptor();
  r.uac2 = model.IsUAC2();
  r.highSpeed = model.IsHighSpeed();
  r.vendorId = device.idVendor;
  r.productId = device.idProduct;
  r.manufacturer = StringOf(model, device.iManufacturer);
  r.product = StringOf(model, device.iProduct);
  r.serialNumber = StringOf(model, device.iSerialNumber);
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
  r.implicitFeedback = model.IsImplicitFeedbackMode();
  for (CUSBAudioEntity* e = model.FirstEntity(); e != nullptr; e = e->Next()) {
    r.entities.push_back(DescribeEntity(model, *e));
  }
  for (USBAudioStreamInterface* s = model.FirstStreamInterface(); s != nullptr; s = s->Next) {
    r.streams.push_back(DescribeStream(model, *s));
  }
  r.ignoredInterfaces = IgnoredInterfaces(model);
  r.maxFormats[0] = MaxFormats(model, Value(Direction::Playback));
  r.maxFormats[1] = MaxFormats(model, Value(Direction::Capture));
  return r;
}

}  // namespace tarnlink::tool
