// What an isochronous endpoint descriptor means on the bus: how often it is served and how many
// bytes it can carry each time, and how large a stream's packets get.
#pragma once

#include <cstdint>

#include "usb/usbspec.h"

namespace tarnlink::tool {

struct EndpointTiming {
  uint32_t intervalUs = 0;    // between two packets: 2^(bInterval-1) (micro)frames
  uint32_t packetBytes = 0;   // bytes per transaction: bits 0..10 of wMaxPacketSize
  uint32_t transactions = 1;  // per microframe: 1 + bits 11..12 of wMaxPacketSize (high speed)
  uint32_t Capacity() const { return packetBytes * transactions; }
};

EndpointTiming TimingOf(const USB_ENDPOINT_DESCRIPTOR& endpoint, bool highSpeed);

// The largest packet a stream of `rate` frames per second of `frameBytes` each needs on an
// endpoint served every `intervalUs`: one frame more than the whole frames of the interval, as
// the class lets a packet run one frame long. Saturates at UINT32_MAX.
uint32_t LargestPacketBytes(uint32_t frameBytes, uint32_t rate, uint32_t intervalUs);

}  // namespace tarnlink::tool
