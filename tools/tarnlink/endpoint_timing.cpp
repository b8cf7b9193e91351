#include "endpoint_timing.h"

namespace tarnlink::tool {

EndpointTiming TimingOf(const USB_ENDPOINT_DESCRIPTOR& endpoint, bool highSpeed) {
  EndpointTiming t;
  // bInterval is an exponent of 1..16 for isochronous endpoints; anything outside is clamped
  // to that range, as a host would refuse or clamp it.
  const uint32_t exponent =
      endpoint.bInterval == 0 ? 0 : (endpoint.bInterval > 16 ? 15 : endpoint.bInterval - 1u);
  t.intervalUs = (highSpeed ? 125u : 1000u) << exponent;
  t.packetBytes = endpoint.wMaxPacketSize & 0x7FF;
  // Bits 11..12 at 3 are reserved; a host takes them as the most it allows, two more.
  const uint32_t additional = (endpoint.wMaxPacketSize >> 11) & 3;
  t.transactions = highSpeed ? (additional < 3 ? additional : 2) + 1 : 1;
  return t;
}

uint32_t LargestPacketBytes(uint32_t frameBytes, uint32_t rate, uint32_t intervalUs) {
  const uint64_t wholeFrames = uint64_t{rate} * intervalUs / 1000000;
  const uint64_t bytes = (wholeFrames + 1) * frameBytes;
  return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

}  // namespace tarnlink::tool
