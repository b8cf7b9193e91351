#include "sim/devices/extra_interfaces.h"

#include "sim/devices/byte_writer.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {
namespace {

constexpr uint8_t kSubclassMidiStreaming = 3;
constexpr uint8_t kCsEndpointType = 0x25;

uint8_t NextInterfaceNumber(const AudioFunctionSpec& f) {
  return static_cast<uint8_t>(f.controlInterface + 1 + f.streams.size() + f.extraInterfaceCount);
}

void Append(AudioFunctionSpec& f, ByteWriter& w, uint8_t interfaces) {
  const std::vector<uint8_t> bytes = w.Take();
  f.extraInterfaces.insert(f.extraInterfaces.end(), bytes.begin(), bytes.end());
  f.extraInterfaceCount = static_cast<uint8_t>(f.extraInterfaceCount + interfaces);
}

void InterfaceDescriptor(ByteWriter& w, uint8_t number, uint8_t endpoints, uint8_t cls,
                         uint8_t subclass, uint8_t protocol) {
  w.U8(9).U8(USB_INTERFACE_DESCRIPTOR_TYPE).U8(number).U8(0).U8(endpoints);
  w.U8(cls).U8(subclass).U8(protocol).U8(0);
}

void BulkEndpoint(ByteWriter& w, uint8_t address, uint8_t jack) {
  // Audio-class endpoints keep the two extra bytes of the 1.0 layout.
  w.U8(9).U8(USB_ENDPOINT_DESCRIPTOR_TYPE).U8(address).U8(USB_ENDPOINT_TYPE_BULK).U16(64);
  w.U8(0).U8(0).U8(0);
  w.U8(5).U8(kCsEndpointType).U8(1).U8(1).U8(jack);
}

}  // namespace

void AddVendorInterface(AudioFunctionSpec& f, uint8_t cls, uint8_t subclass, uint8_t protocol,
                        const std::vector<uint8_t>& functional, uint8_t interruptEndpoint) {
  ByteWriter w;
  InterfaceDescriptor(w, NextInterfaceNumber(f), interruptEndpoint ? 1 : 0, cls, subclass,
                      protocol);
  w.Bytes(functional);
  if (interruptEndpoint)
    w.U8(7)
        .U8(USB_ENDPOINT_DESCRIPTOR_TYPE)
        .U8(interruptEndpoint)
        .U8(USB_ENDPOINT_TYPE_INTERRUPT)
        .U16(64)
        .U8(4);
  Append(f, w, 1);
}

void AddMidiFunction(AudioFunctionSpec& f, uint8_t outEndpoint, uint8_t inEndpoint) {
  const uint8_t control = NextInterfaceNumber(f);
  const uint8_t streaming = static_cast<uint8_t>(control + 1);
  ByteWriter w;
  InterfaceDescriptor(w, control, 0, USB_DEVICE_CLASS_AUDIO, uac::kSubclassAudioControl, 0);
  w.U8(9).U8(uac::kCsInterface).U8(uac::kAcHeader).U16(0x0100).U16(9).U8(1).U8(streaming);
  InterfaceDescriptor(w, streaming, 2, USB_DEVICE_CLASS_AUDIO, kSubclassMidiStreaming, 0);
  // MS header, an embedded IN jack (1) and an embedded OUT jack (2) fed by it.
  w.U8(7).U8(uac::kCsInterface).U8(1).U16(0x0100).U16(7 + 6 + 9);
  w.U8(6).U8(uac::kCsInterface).U8(2).U8(1).U8(1).U8(0);
  w.U8(9).U8(uac::kCsInterface).U8(3).U8(1).U8(2).U8(1).U8(1).U8(1).U8(0);
  BulkEndpoint(w, outEndpoint, 1);
  BulkEndpoint(w, inEndpoint, 2);
  Append(f, w, 2);
}

}  // namespace sim::devices
