#include "asio_ring_sizing.h"

#include <gtest/gtest.h>

namespace {

TEST(AsioRingSizing, FramesFollowTheSideThatPacesTheStream) {
  struct Case {
    ULONG period, rate, transferMs;
    BOOLEAN capture, playback;
    ULONGLONG captureFrames, playbackFrames;
  };
  const Case cases[] = {
      {100, 48000, 1, TRUE, TRUE, 2304, 3072},   // short periods still hold 3 x 768
      {1024, 48000, 1, TRUE, TRUE, 3072, 3840},
      {100, 48000, 1, TRUE, FALSE, 2304, 0},
      {64, 44100, 1, FALSE, TRUE, 0, 192},       // 3 x max(64, ceil(44.1))
      {16, 44100, 1, FALSE, TRUE, 0, 135},       // one transfer of 45 frames beats the period
      {16, 44100, 2, FALSE, TRUE, 0, 270},
      {0xFFFFFFFF, 48000, 1, TRUE, TRUE, 3ull * 0xFFFFFFFF, 3ull * 0xFFFFFFFF + 768},
      {64, 48000, 1, FALSE, FALSE, 0, 0},
  };
  for (const Case& c : cases) {
    const AsioRingFrames frames =
        SizeAsioRings(c.period, c.rate, c.transferMs, c.capture, c.playback);
    EXPECT_EQ(frames.capture, c.captureFrames) << c.period << " " << c.rate;
    EXPECT_EQ(frames.playback, c.playbackFrames) << c.period << " " << c.rate;
  }
}

TEST(AsioRingSizing, BlocksAreWholePagesAndRefuseWhatTheFillCountCannotHold) {
  ULONG ringBytes = 0;
  ULONG blockBytes = 0;
  ASSERT_EQ(SizeAsioRingBlock(2304, 8, &ringBytes, &blockBytes), STATUS_SUCCESS);
  EXPECT_EQ(ringBytes, 18432u);
  EXPECT_EQ(blockBytes, 5u * 4096);  // 28 + 18432 does not fit in four pages
  ASSERT_EQ(SizeAsioRingBlock(1017, 4, &ringBytes, &blockBytes), STATUS_SUCCESS);
  EXPECT_EQ(blockBytes, 4096u);  // 28 + 4068 is exactly one page
  ASSERT_EQ(SizeAsioRingBlock(1018, 4, &ringBytes, &blockBytes), STATUS_SUCCESS);
  EXPECT_EQ(blockBytes, 8192u);

  struct Refused {
    ULONGLONG frames;
    ULONG frameBytes;
  };
  for (const Refused& r : {Refused{3ull * 0xFFFFFFFF, 8}, Refused{0x20000000, 4},
                           Refused{0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFF}, Refused{192, 0}}) {
    ringBytes = blockBytes = 7;
    EXPECT_EQ(SizeAsioRingBlock(r.frames, r.frameBytes, &ringBytes, &blockBytes),
              STATUS_INVALID_PARAMETER)
        << r.frames << " x " << r.frameBytes;
    EXPECT_EQ(ringBytes, 7u);
  }
  ASSERT_EQ(SizeAsioRingBlock(0x7FFFFFFF / 4, 4, &ringBytes, &blockBytes), STATUS_SUCCESS);
  EXPECT_EQ(blockBytes % 4096, 0u);
  EXPECT_GE(blockBytes, ringBytes + 28);
}

}  // namespace
