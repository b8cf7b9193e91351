// Class requests (audio control entities, Audio 1.0 endpoints) and the stream-kind vendor
// request of the simulated audio device.
#include <algorithm>

#include "sim/devices/byte_writer.h"
#include "sim/devices/uac_constants.h"
#include "sim/devices/uac_device.h"

namespace sim::devices {
namespace {

bool RateOffered(const AltSettingSpec& alt, uint32_t rate) {
  if (alt.tSamFreq.empty()) return rate >= alt.tLowerSamFreq && rate <= alt.tUpperSamFreq;
  return std::find(alt.tSamFreq.begin(), alt.tSamFreq.end(), rate) != alt.tSamFreq.end();
}

}  // namespace

ControlResult UacDevice::Class(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                               std::span<uint8_t> data) {
  if (configuration_ == 0) return ControlResult::Stall();
  switch (setup.bmRequestType.s.Recipient) {
    case BMREQUEST_TO_INTERFACE:
      // Streaming interfaces carry no controls in these devices.
      if (setup.wIndex.LowByte != spec_.controlInterface) return ControlResult::Stall();
      return controls_.Request(time, setup, data);
    case BMREQUEST_TO_ENDPOINT:
      return EndpointRequest(setup, data);
    default:
      return ControlResult::Stall();
  }
}

ControlResult UacDevice::EndpointRequest(const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                         std::span<uint8_t> data) {
  // Audio 1.0 sampling frequency control, on the data endpoint of the selected setting.
  if (spec_.version != UacVersion::Uac1 || setup.wValue.HiByte != uac::kEpSamplingFreq ||
      setup.wValue.LowByte != 0 || setup.wIndex.HiByte != 0)
    return ControlResult::Stall();
  const uint8_t address = setup.wIndex.LowByte;
  const AltSettingSpec* alt = nullptr;
  Stream* s = StreamWithEndpoint(address, &alt);
  if (!s || alt->data.bEndpointAddress != address || !(alt->endpointAttributes & 0x01))
    return ControlResult::Stall();
  const bool get = setup.bmRequestType.s.Dir;
  if (get && setup.bRequest == uac::kGetCur)
    return Answer(data, ByteWriter().U24(StreamRate(*s, *alt)).Take());
  if (get || setup.bRequest != uac::kSetCur || data.size() != 3) return ControlResult::Stall();
  const uint32_t rate = ReadLe(data.data(), 3);
  if (!RateOffered(*alt, rate)) return ControlResult::Stall();
  s->endpointRates[address] = rate;
  return ControlResult::Ack();
}

ControlResult UacDevice::Vendor(const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                std::span<uint8_t> data) {
  if (!behaviour_.nativeDsd || configuration_ == 0 ||
      setup.bmRequestType.B != uac::kStreamKindRequestType ||
      setup.bRequest != uac::kStreamKindRequest || !data.empty() || setup.wIndex.HiByte != 0 ||
      setup.wValue.W > uac::kStreamKindDsd)
    return ControlResult::Stall();
  Stream* s = StreamFor(setup.wIndex.LowByte);
  if (!s) return ControlResult::Stall();
  if (s->kind != setup.wValue.W) {
    // The converter switches mode: a running stream restarts in the new kind.
    s->kind = setup.wValue.W;
    s->started = false;
    s->sink.Stop();
    s->source.Stop();
  }
  return ControlResult::Ack();
}

}  // namespace sim::devices
