#include "device_report.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "descriptor_bytes.h"
#include "driver_types.h"
#include "endpoint_timing.h"
#include "format_checks.h"
#include "usb_names.h"

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

// The first setting with a data endpoint that carries the format's channels and containers.
ULONG SettingOfFormat(CUSBAudioCL& model, USBAudioStreamInterface* record,
                      const MaxFormatReport& r) {
  for (ULONG alt = 1; alt < record->AltSettingCount; ++alt) {
    AltFormat format;
    if (record->AltSettings[alt].DataEndpoint != nullptr &&
        ReadAltFormat(record->AltSettings[alt], model.IsUAC2(), &format) &&
        format.channels == r.channels && format.containerBits == r.containerBits) {
      return alt;
    }
  }
  return 0;
}

// Which setting format selection takes for the format, and whether its packets fit there.
// Selection refuses a setting whose packets its endpoint cannot carry: the setting of the
// format then shows by how much.
void CheckPacketFit(CUSBAudioCL& model, USBAudioStreamInterface* record, MaxFormatReport* r) {
  ULONG channels = r->channels, containerBits = r->containerBits, alt = 0;
  if (!NT_SUCCESS(model.FindAltSetting(record, static_cast<USHORT>(r->tag), r->channels,
                                       r->containerBits, r->rate, &channels, &containerBits,
                                       &alt))) {
    alt = SettingOfFormat(model, record, *r);
    channels = r->channels;
    containerBits = r->containerBits;
  }
  if (alt == 0 || record->AltSettings[alt].DataEndpoint == nullptr) return;
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
// streaming interface of the model, and those of the device's other functions, in number order.
std::vector<IgnoredInterfaceReport> IgnoredInterfaces(
    CUSBAudioCL& model, const std::vector<sim::machine::InterfaceSummary>& otherFunctions) {
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
                      r.subclass = i->bInterfaceSubClass;
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
  for (const sim::machine::InterfaceSummary& i : otherFunctions) {
    ignored.push_back({i.number, InterfaceClassName(i.interfaceClass, i.subclass), i.subclass,
                       "another function of the composite device, which Windows gives to its "
                       "own driver"});
  }
  std::sort(ignored.begin(), ignored.end(),
            [](const auto& a, const auto& b) { return a.number < b.number; });
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

DeviceReport CollectReport(UsbAudioAdapter* adapter, const StartOutcome& outcome) {
  DeviceReport r;
  if (adapter == nullptr) {
    r.refused = true;
    r.status = outcome.status;
    r.reason = RefusalReason(outcome);
    return r;
  }
  CUSBAudioCL& model = adapter->Model();
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
  r.ignoredInterfaces = IgnoredInterfaces(model, outcome.otherFunctions);
  r.maxFormats[0] = MaxFormats(model, Value(Direction::Playback));
  r.maxFormats[1] = MaxFormats(model, Value(Direction::Capture));
  r.adapter = DescribeAdapter(*adapter);
  return r;
}

}  // namespace tarnlink::tool
