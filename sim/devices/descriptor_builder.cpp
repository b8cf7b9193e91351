#include "sim/devices/descriptor_builder.h"

#include <type_traits>

#include "sim/devices/byte_writer.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {
namespace {

constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;
constexpr uint8_t kSerialIndex = 3;

bool Uac2(const AudioFunctionSpec& spec) {
  return spec.version == UacVersion::Uac2;
}

void Interface(ByteWriter& w, uint8_t number, uint8_t alt, uint8_t endpoints, uint8_t cls,
               uint8_t subclass, uint8_t protocol) {
  w.U8(9).U8(USB_INTERFACE_DESCRIPTOR_TYPE).U8(number).U8(alt).U8(endpoints).U8(cls);
  w.U8(subclass).U8(protocol).U8(0);
}

void Endpoint(ByteWriter& w, const EndpointSpec& ep, bool uac1) {
  w.U8(uac1 ? 9 : 7).U8(USB_ENDPOINT_DESCRIPTOR_TYPE).U8(ep.bEndpointAddress);
  w.U8(ep.bmAttributes).U16(ep.wMaxPacketSize).U8(ep.bInterval);
  if (uac1) w.U8(ep.bRefresh).U8(ep.bSynchAddress);
}

void Entity(ByteWriter& w, const EntitySpec& entity, bool uac2) {
  std::visit(
      [&](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, InputTerminalSpec>) {
          w.U8(uac2 ? 17 : 12).U8(uac::kCsInterface).U8(uac::kAcInputTerminal).U8(e.bTerminalID);
          w.U16(e.wTerminalType).U8(e.bAssocTerminal);
          if (uac2) {
            w.U8(e.bCSourceID).U8(e.bNrChannels).U32(e.bmChannelConfig).U8(0).U16(e.bmControls);
          } else {
            w.U8(e.bNrChannels).U16(e.bmChannelConfig).U8(0);
          }
          w.U8(0);
        } else if constexpr (std::is_same_v<T, OutputTerminalSpec>) {
          w.U8(uac2 ? 12 : 9).U8(uac::kCsInterface).U8(uac::kAcOutputTerminal).U8(e.bTerminalID);
          w.U16(e.wTerminalType).U8(e.bAssocTerminal).U8(e.bSourceID);
          if (uac2) w.U8(e.bCSourceID).U16(e.bmControls);
          w.U8(0);
        } else if constexpr (std::is_same_v<T, FeatureUnitSpec>) {
          const size_t width = uac2 ? 4 : e.bControlSize;
          w.U8(static_cast<uint32_t>((uac2 ? 6 : 7) + e.bmaControls.size() * width));
          w.U8(uac::kCsInterface).U8(uac::kAcFeatureUnit).U8(e.bUnitID).U8(e.bSourceID);
          if (!uac2) w.U8(e.bControlSize);
          for (uint32_t controls : e.bmaControls)
            for (size_t b = 0; b < width; ++b) w.U8(controls >> (8 * b));
          w.U8(0);
        } else if constexpr (std::is_same_v<T, ClockSourceSpec>) {
          w.U8(8).U8(uac::kCsInterface).U8(uac::kAc2ClockSource).U8(e.bClockID);
          w.U8(e.bmAttributes).U8(e.bmControls).U8(e.bAssocTerminal).U8(0);
        } else if constexpr (std::is_same_v<T, ClockSelectorSpec>) {
          w.U8(static_cast<uint32_t>(7 + e.baCSourceID.size())).U8(uac::kCsInterface);
          w.U8(uac::kAc2ClockSelector)
              .U8(e.bClockID)
              .U8(static_cast<uint32_t>(e.baCSourceID.size()));
          for (uint8_t id : e.baCSourceID) w.U8(id);
          w.U8(e.bmControls).U8(0);
        } else {
          w.Bytes(e.bytes);
        }
      },
      entity);
}

void AudioControl(ByteWriter& w, const AudioFunctionSpec& spec) {
  const bool uac2 = Uac2(spec);
  Interface(w, spec.controlInterface, 0, 0, spec.audioClass, uac::kSubclassAudioControl,
            uac2 ? uac::kProtocolVersion2 : 0);
  const size_t header = w.Size();
  if (uac2) {
    w.U8(9).U8(uac::kCsInterface).U8(uac::kAcHeader).U16(0x0200).U8(spec.bCategory);
    w.U16(0).U8(0);
  } else {
    w.U8(static_cast<uint32_t>(8 + spec.streams.size())).U8(uac::kCsInterface).U8(uac::kAcHeader);
    w.U16(0x0100).U16(0).U8(static_cast<uint32_t>(spec.streams.size()));
    for (const StreamingInterfaceSpec& s : spec.streams) w.U8(s.bInterfaceNumber);
  }
  for (const EntitySpec& e : spec.entities) Entity(w, e, uac2);
  // wTotalLength covers the header and every entity (and what sloppy firmware adds).
  w.PatchU16(header + (uac2 ? 6 : 5),
             static_cast<uint32_t>(w.Size() - header + spec.acTotalLengthExcess));
}

void FormatDescriptors(ByteWriter& w, const StreamingInterfaceSpec& s, const AltSettingSpec& a,
                       bool uac2) {
  if (uac2) {
    w.U8(16).U8(uac::kCsInterface).U8(uac::kAsGeneral).U8(s.bTerminalLink).U8(0);
    w.U8(a.bFormatType).U32(a.bmFormats).U8(a.bNrChannels).U32(a.bmChannelConfig).U8(0);
    w.U8(6).U8(uac::kCsInterface).U8(uac::kAsFormatType).U8(a.bFormatType);
    w.U8(a.bSubslotSize).U8(a.bBitResolution);
    return;
  }
  w.U8(7).U8(uac::kCsInterface).U8(uac::kAsGeneral).U8(s.bTerminalLink).U8(s.bDelay);
  w.U16(a.wFormatTag);
  const bool continuous = a.tSamFreq.empty();
  const size_t rates = continuous ? 2 : a.tSamFreq.size();
  w.U8(static_cast<uint32_t>(8 + 3 * rates)).U8(uac::kCsInterface).U8(uac::kAsFormatType);
  w.U8(a.bFormatType).U8(a.bNrChannels).U8(a.bSubslotSize).U8(a.bBitResolution);
  w.U8(continuous ? 0 : static_cast<uint32_t>(rates));
  if (continuous) {
    w.U24(a.tLowerSamFreq).U24(a.tUpperSamFreq);
  } else {
    for (uint32_t rate : a.tSamFreq) w.U24(rate);
  }
}

void Streaming(ByteWriter& w, const AudioFunctionSpec& spec, const StreamingInterfaceSpec& s) {
  const bool uac2 = Uac2(spec);
  const uint8_t protocol = uac2 ? uac::kProtocolVersion2 : 0;
  Interface(w, s.bInterfaceNumber, 0, 0, spec.audioClass, uac::kSubclassAudioStreaming, protocol);
  for (size_t i = 0; i < s.alts.size(); ++i) {
    const AltSettingSpec& a = s.alts[i];
    const uint8_t alt = a.bAlternateSetting ? a.bAlternateSetting : static_cast<uint8_t>(i + 1);
    Interface(w, s.bInterfaceNumber, alt, a.feedback ? 2 : 1, spec.audioClass,
              uac::kSubclassAudioStreaming, protocol);
    FormatDescriptors(w, s, a, uac2);
    Endpoint(w, a.data, !uac2);
    if (uac2) {
      w.U8(8).U8(uac::kCsEndpoint).U8(uac::kEpGeneral).U8(a.endpointAttributes).U8(0).U8(0).U16(0);
    } else {
      w.U8(7).U8(uac::kCsEndpoint).U8(uac::kEpGeneral).U8(a.endpointAttributes).U8(0).U16(0);
    }
    if (a.feedback) Endpoint(w, *a.feedback, !uac2);
  }
}

}  // namespace

std::vector<uint8_t> BuildDeviceDescriptor(const AudioFunctionSpec& spec) {
  const bool composite = Uac2(spec) && spec.interfaceAssociation;
  ByteWriter w;
  w.U8(18).U8(USB_DEVICE_DESCRIPTOR_TYPE).U16(spec.bcdUSB);
  w.U8(composite ? USB_DEVICE_CLASS_MISCELLANEOUS : 0).U8(composite ? 2 : 0).U8(composite ? 1 : 0);
  w.U8(64).U16(spec.idVendor).U16(spec.idProduct).U16(spec.bcdDevice);
  w.U8(spec.manufacturer.empty() ? 0 : kManufacturerIndex);
  w.U8(spec.product.empty() ? 0 : kProductIndex);
  w.U8(spec.serialNumber.empty() ? 0 : kSerialIndex).U8(1);
  return w.Take();
}

std::vector<uint8_t> BuildDeviceQualifier(const AudioFunctionSpec& spec) {
  const std::vector<uint8_t> device = BuildDeviceDescriptor(spec);
  ByteWriter w;
  w.U8(10).U8(USB_DEVICE_QUALIFIER_DESCRIPTOR_TYPE).U16(spec.bcdUSB);
  w.U8(device[4]).U8(device[5]).U8(device[6]).U8(64).U8(1).U8(0);
  return w.Take();
}

std::vector<uint8_t> BuildConfigurationDescriptor(const AudioFunctionSpec& spec) {
  ByteWriter w;
  const uint32_t audioInterfaces = static_cast<uint32_t>(1 + spec.streams.size());
  w.U8(9).U8(USB_CONFIGURATION_DESCRIPTOR_TYPE).U16(0);
  w.U8(audioInterfaces + spec.extraInterfaceCount).U8(1).U8(0).U8(spec.bmAttributes);
  w.U8(spec.MaxPower);
  if (Uac2(spec) && spec.interfaceAssociation) {
    w.U8(8).U8(USB_INTERFACE_ASSOCIATION_DESCRIPTOR_TYPE).U8(spec.controlInterface);
    w.U8(audioInterfaces).U8(spec.audioClass).U8(0).U8(uac::kProtocolVersion2).U8(0);
  }
  AudioControl(w, spec);
  for (const StreamingInterfaceSpec& s : spec.streams) Streaming(w, spec, s);
  w.Bytes(spec.extraInterfaces);
  w.PatchU16(2, static_cast<uint32_t>(w.Size()));
  return w.Take();
}

std::vector<uint8_t> BuildStringDescriptor(const std::string& text) {
  const size_t chars = text.size() < 126 ? text.size() : 126;
  ByteWriter w;
  w.U8(static_cast<uint32_t>(2 + 2 * chars)).U8(USB_STRING_DESCRIPTOR_TYPE);
  for (size_t i = 0; i < chars; ++i) w.U16(static_cast<uint8_t>(text[i]));
  return w.Take();
}

std::vector<uint8_t> BuildLanguageList() {
  ByteWriter w;
  w.U8(4).U8(USB_STRING_DESCRIPTOR_TYPE).U16(0x0409);
  return w.Take();
}

uint16_t PacketSizeFor(uint32_t maxRate, UsbSpeed speed, uint8_t bInterval, uint32_t frameBytes) {
  const uint64_t perSecond = speed == UsbSpeed::High ? 8000 : 1000;
  const uint64_t interval = bInterval <= 1 ? 1 : 1ull << (bInterval - 1);
  const uint64_t frames = (uint64_t{maxRate} * interval + perSecond - 1) / perSecond + 1;
  return static_cast<uint16_t>(frames * frameBytes);
}

}  // namespace sim::devices
