#include <gtest/gtest.h>

#include "sim/devices/position_signal.h"

namespace sim::devices {
namespace {

std::vector<uint32_t> Signal(std::initializer_list<uint64_t> frames, unsigned channel,
                             SampleLayout layout) {
  std::vector<uint32_t> out;
  for (uint64_t f : frames) out.push_back(PositionSignal::Encode(f, channel, layout));
  return out;
}

TEST(PositionSignal, RoundTripsInEveryContainer) {
  for (SampleLayout layout :
       {SampleLayout{2, 16}, SampleLayout{3, 24}, SampleLayout{4, 24}, SampleLayout{4, 32}}) {
    for (uint64_t frame :
         {uint64_t{0}, uint64_t{1}, uint64_t{1000}, PositionSignal::FrameRange(layout) - 2}) {
      const uint32_t word = PositionSignal::Encode(frame, 3, layout);
      EXPECT_NE(word, 0u);
      EXPECT_EQ(PositionSignal::DecodeFrame(word, layout), frame);
      EXPECT_EQ(PositionSignal::DecodeChannel(word, layout), 3u);
      EXPECT_LT(word, uint64_t{1} << (8 * layout.subslotBytes));
      // The valid bits sit at the top of the container, the padding below is zero.
      EXPECT_EQ(word & ((1u << (8 * layout.subslotBytes - layout.bitResolution)) - 1), 0u);
    }
  }
}

TEST(PositionSignal, ContinuityFindsGapsRepeatsAndStrangers) {
  const SampleLayout layout{2, 16};
  struct Case {
    const char* what;
    std::vector<uint32_t> words;
    uint64_t gaps, missing, repeats, wrong;
    int64_t firstBreak;
  };
  std::vector<uint32_t> silent = Signal({0, 1, 2}, 0, layout);
  silent.insert(silent.begin(), 2, 0);
  std::vector<uint32_t> stranger = Signal({0, 1, 2}, 0, layout);
  stranger[1] = PositionSignal::Encode(1, 1, layout);
  const uint64_t last = PositionSignal::FrameRange(layout) - 1;
  const Case cases[] = {
      {"clean", Signal({0, 1, 2, 3}, 0, layout), 0, 0, 0, 0, -1},
      {"leading silence", silent, 0, 0, 0, 0, -1},
      {"gap", Signal({0, 1, 4, 5}, 0, layout), 1, 2, 0, 0, 2},
      {"repeat", Signal({0, 1, 1, 2}, 0, layout), 0, 0, 1, 0, 2},
      {"back", Signal({5, 6, 2, 3}, 0, layout), 0, 0, 1, 0, 2},
      {"wrap", Signal({last - 1, last, 0, 1}, 0, layout), 0, 0, 0, 0, -1},
      {"other channel", stranger, 0, 0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Continuity r = CheckContinuity(c.words, 0, layout);
    EXPECT_EQ(r.gaps, c.gaps);
    EXPECT_EQ(r.framesMissing, c.missing);
    EXPECT_EQ(r.repeats, c.repeats);
    EXPECT_EQ(r.wrongChannel, c.wrong);
    EXPECT_EQ(r.firstBreak,
              c.firstBreak + static_cast<int64_t>(c.firstBreak >= 0 ? r.leadingSilence : 0));
  }
}

}  // namespace
}  // namespace sim::devices
