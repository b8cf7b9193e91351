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

ContinuityChecker::ContinuityChecker(unsigned channel, SampleLayout layout)
    : channel_(channel & 31u), layout_(layout), range_(PositionSignal::FrameRange(layout)) {}

void ContinuityChecker::Add(uint32_t word) {
  const uint64_t index = index_++;
  if (!started_) {
    if (word == 0) {
      ++result_.leadingSilence;
      return;
    }
    started_ = true;
  }
  ++result_.frames;
  if (PositionSignal::DecodeChannel(word, layout_) != channel_) {
    // A stray sample still takes its frame's place: the sequence goes on after it.
    ++result_.wrongChannel;
    if (result_.firstBreak < 0) result_.firstBreak = static_cast<int64_t>(index);
    previous_ = (previous_ + 1) % range_;
    return;
  }
  const uint64_t frame = PositionSignal::DecodeFrame(word, layout_);
  if (result_.frames == 1) result_.firstFrame = frame;
  if (havePrevious_) {
    const uint64_t step = (frame + range_ - previous_) % range_;
    // Steps in the upper half of the code's range are read as going back.
    if (step == 0 || step > range_ / 2) {
      ++result_.repeats;
    } else if (step > 1) {
      ++result_.gaps;
      result_.framesMissing += step - 1;
    }
    if (step != 1 && result_.firstBreak < 0) result_.firstBreak = static_cast<int64_t>(index);
  }
  previous_ = frame;
  havePrevious_ = true;
}

Continuity CheckContinuity(const std::vector<uint32_t>& words, unsigned channel,
                           SampleLayout layout) {
  ContinuityChecker checker(channel, layout);
  for (const uint32_t word : words) checker.Add(word);
  return checker.Result();
}

}  // namespace sim::devices
