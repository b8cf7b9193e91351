#include "sim/devices/position_signal.h"

namespace sim::devices {
namespace {

// Valid bits never exceed the container (at most the 4 bytes audio subslots have), and the code
// needs room for the channel bits.
unsigned Container(SampleLayout layout) {
  return layout.subslotBytes < 4 ? 8u * layout.subslotBytes : 32u;
}
unsigned Bits(SampleLayout layout) {
  const unsigned container = Container(layout);
  const unsigned bits = layout.bitResolution < container ? layout.bitResolution : container;
  return bits > PositionSignal::kChannelBits + 1 ? bits : PositionSignal::kChannelBits + 1;
}
unsigned Shift(SampleLayout layout) {
  const unsigned container = Container(layout);
  return container > Bits(layout) ? container - Bits(layout) : 0;
}
uint64_t ValueMask(SampleLayout layout) {
  return (uint64_t{1} << Bits(layout)) - 1;
}

}  // namespace

uint32_t PositionSignal::Encode(uint64_t frame, unsigned channel, SampleLayout layout) {
  const uint64_t code = ((frame + 1) << kChannelBits | (channel & ((1u << kChannelBits) - 1)));
  return static_cast<uint32_t>((code & ValueMask(layout)) << Shift(layout));
}

uint64_t PositionSignal::DecodeFrame(uint32_t word, SampleLayout layout) {
  const uint64_t code = (uint64_t{word} >> Shift(layout)) & ValueMask(layout);
  return ((code >> kChannelBits) + FrameRange(layout) - 1) % FrameRange(layout);
}

unsigned PositionSignal::DecodeChannel(uint32_t word, SampleLayout layout) {
  return static_cast<unsigned>((word >> Shift(layout)) & ((1u << kChannelBits) - 1));
}

uint64_t PositionSignal::FrameRange(SampleLayout layout) {
  return uint64_t{1} << (Bits(layout) - kChannelBits);
}

Continuity CheckContinuity(const std::vector<uint32_t>& words, unsigned channel,
                           SampleLayout layout) {
  Continuity c;
  const uint64_t range = PositionSignal::FrameRange(layout);
  size_t i = 0;
  while (i < words.size() && words[i] == 0) ++i;
  c.leadingSilence = i;
  bool havePrevious = false;
  uint64_t previous = 0;
  for (; i < words.size(); ++i) {
    ++c.frames;
    const uint32_t w = words[i];
    if (PositionSignal::DecodeChannel(w, layout) != (channel & 31u)) {
      // A stray sample still takes its frame's place: the sequence goes on after it.
      ++c.wrongChannel;
      if (c.firstBreak < 0) c.firstBreak = static_cast<int64_t>(i);
      previous = (previous + 1) % range;
      continue;
    }
    const uint64_t frame = PositionSignal::DecodeFrame(w, layout);
    if (havePrevious) {
      const uint64_t step = (frame + range - previous) % range;
      // Steps in the upper half of the code's range are read as going back.
      if (step == 0 || step > range / 2) {
        ++c.repeats;
      } else if (step > 1) {
        ++c.gaps;
        c.framesMissing += step - 1;
      }
      if (step != 1 && c.firstBreak < 0) c.firstBreak = static_cast<int64_t>(i);
    }
    previous = frame;
    havePrevious = true;
  }
  return c;
}

}  // namespace sim::devices
