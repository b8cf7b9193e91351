#include "sim/audioengine/pin_signal.h"

#include <algorithm>
#include <cstring>

namespace sim::audioengine {

using devices::PositionSignal;
using devices::SampleLayout;

SampleLayout SeenLayout(unsigned signalBits, const PinFormat& pin, SampleLayout receiver) {
  const unsigned bits = std::min({signalBits, unsigned{pin.bits}, unsigned{receiver.bitResolution}});
  return {receiver.subslotBytes, static_cast<uint8_t>(bits)};
}

uint32_t CapturePath::Expected(uint64_t frame, unsigned channel) const {
  const unsigned sentBits = sent.subslotBytes * 8u;
  uint32_t word = PositionSignal::Encode(frame, channel, sent);
  if (sentBits < 32) word <<= 32 - sentBits;
  if (keptBits < 32) word &= ~((uint32_t{1} << (32 - keptBits)) - 1);
  return pinBits >= 32 ? word : word >> (32 - pinBits);
}

devices::Continuity CheckCapturedSignal(const std::vector<uint32_t>& words, unsigned channel,
                                        const CapturePath& path, uint64_t* firstFrame) {
  devices::Continuity result;
  size_t first = 0;
  while (first < words.size() && words[first] == 0) ++first;
  result.leadingSilence = first;
  result.frames = words.size() - first;
  if (first == words.size()) return result;
  // The first frame: the one from which the most of what arrived matches. A code cut short
  // repeats over many frames, so no one word tells; a wrong start fails where the cut code
  // next changes.
  constexpr uint64_t kSearch = uint64_t{1} << 22;
  const size_t length = words.size() - first;
  uint64_t start = 0;
  size_t longest = 0;
  for (uint64_t frame = 0; frame < kSearch && longest < length; ++frame) {
    if (path.Expected(frame, channel) != words[first]) continue;
    size_t k = 1;
    while (k < length && path.Expected(frame + k, channel) == words[first + k]) ++k;
    if (k > longest) {
      longest = k;
      start = frame;
    }
  }
  if (longest == 0) {
    result.firstBreak = static_cast<int64_t>(first);
    result.gaps = 1;
    return result;
  }
  if (firstFrame != nullptr) *firstFrame = start;
  for (size_t k = first + longest; k < words.size(); ++k) {
    if (words[k] == path.Expected(start + (k - first), channel)) continue;
    if (result.firstBreak < 0) result.firstBreak = static_cast<int64_t>(k);
    ++result.gaps;
  }
  return result;
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
