#include "sim/audioengine/pin_signal.h"

#include <algorithm>
#include <cstring>

namespace sim::audioengine {

using devices::PositionSignal;
using devices::SampleLayout;

SampleLayout PinLayout(const PinFormat& pin) {
  return {static_cast<uint8_t>(pin.bits / 8), static_cast<uint8_t>(pin.bits)};
}

SampleLayout SeenLayout(unsigned signalBits, const PinFormat& pin, SampleLayout receiver) {
  const unsigned bits = std::min({signalBits, unsigned{pin.bits}, unsigned{receiver.bitResolution}});
  return {receiver.subslotBytes, static_cast<uint8_t>(bits)};
}

void SignalWriter::Fill(uint8_t* dst, ULONG frames, const PinFormat& format) {
  const unsigned width = format.bits / 8u;
  // A signal wider than the pin is written as wide as the pin: its code must survive the cut.
  const SampleLayout source = {4, static_cast<uint8_t>(std::min(validBits_, unsigned{format.bits}))};
  for (ULONG f = 0; f < frames; ++f, ++next_) {
    for (ULONG c = 0; c < format.channels; ++c) {
      // Left-justified in 32 bits; the pin keeps the top of it.
      const uint32_t word = PositionSignal::Encode(next_, c, source) >> (32 - format.bits);
      std::memcpy(dst, &word, width);
      dst += width;
    }
  }
}

void SignalReader::Take(const uint8_t* src, ULONG frames, const PinFormat& format) {
  const ULONG width = format.bits / 8u;
  if (samples_.size() < format.channels) samples_.resize(format.channels);
  for (ULONG f = 0; f < frames; ++f) {
    for (ULONG c = 0; c < format.channels; ++c) {
      uint32_t word = 0;
      std::memcpy(&word, src + (f * format.channels + c) * width, width);
      samples_[c].push_back(word);
    }
  }
}

const std::vector<uint32_t>& SignalReader::Samples(unsigned channel) const {
  static const std::vector<uint32_t> kNone;
  return channel < samples_.size() ? samples_[channel] : kNone;
}

}  // namespace sim::audioengine
