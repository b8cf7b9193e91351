#include <gtest/gtest.h>

#include "packet_test_support.h"

namespace {

constexpr IsoStreamShape kFullSpeedStereo16{FALSE, 1, 4};
constexpr IsoStreamShape kHighSpeedStereo32{TRUE, 1, 8};

TEST(RatePatternPackets, FullSpeed44100WalksAndWrapsTheCycle) {
  PlaybackPacing pacing = PatternPacing(44100, FALSE);
  for (ULONG transfer = 0; transfer < 10; ++transfer) {
    const ULONG bytes = GetTransferBytes(kFullSpeedStereo16, pacing, 1, 0);
    EXPECT_EQ(bytes, transfer == 0 ? 180u : 176u) << transfer;
    EXPECT_EQ(Build(kFullSpeedStereo16, pacing, bytes, 1), Consecutive({bytes})) << transfer;
  }
  EXPECT_EQ(pacing.patternPosition, 0u);
}

TEST(RatePatternPackets, TransferBytesSumTheStepsOfTheMilliseconds) {
  struct Case {
    IsoStreamShape shape;
    ULONG rate, milliseconds, position, bytes;
  } cases[] = {
      {kHighSpeedStereo32, 48000, 1, 0, 8 * 6 * 8}, {{TRUE, 2, 8}, 48000, 1, 0, 8 * 6 * 8},
      {{TRUE, 8, 8}, 48000, 2, 0, 16 * 6 * 8},      {kHighSpeedStereo32, 44100, 1, 0, 45 * 8},
      {kHighSpeedStereo32, 44100, 1, 79, 44 * 8},  // the last entry, then the cycle again
      {kFullSpeedStereo16, 44100, 10, 3, 441 * 4},
  };
  for (const Case& c : cases) {
    PlaybackPacing pacing = PatternPacing(c.rate, c.shape.highSpeed);
    pacing.patternPosition = c.position;
    EXPECT_EQ(GetTransferBytes(c.shape, pacing, c.milliseconds, 0), c.bytes) << c.rate;
    EXPECT_EQ(pacing.patternPosition, c.position);
  }
}

TEST(RatePatternPackets, HighSpeedIntervalsGroupStepsIntoPackets) {
  PlaybackPacing pacing = PatternPacing(44100, TRUE);
  const IsoStreamShape shape{TRUE, 2, 8};
  // The cycle starts 6, 6, 5, 6, 5, 6, 5, 6 frames: two steps per packet.
  const ULONG bytes = GetTransferBytes(shape, pacing, 1, 0);
  EXPECT_EQ(Build(shape, pacing, bytes, 1), Consecutive({96, 88, 88, 88}));
  EXPECT_EQ(pacing.patternPosition, 8u);
  // Less than a millisecond of bytes still takes whole milliseconds of packets.
  pacing.patternPosition = 0;
  EXPECT_EQ(Build(kHighSpeedStereo32, pacing, 60, 1),
            PacketList({{0, 48}, {48, 12}, {60, 0}, {60, 0}, {60, 0}, {60, 0}, {60, 0}, {60, 0}}));
  EXPECT_EQ(pacing.patternPosition, 2u);
}

TEST(RatePatternPackets, AMinuteDeliversExactlyTheRate) {
  for (BOOLEAN highSpeed : {FALSE, TRUE}) {
    for (const RatePatternRow& row : RatePatternTable) {
      const IsoStreamShape shape{highSpeed, 1, 8};
      PlaybackPacing pacing = PatternPacing(row.rate, highSpeed);
      ULONGLONG frames = 0;
      std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets(kIsoMaxPackets);
      for (ULONG transfer = 0; transfer < 6000; ++transfer) {  // 10 ms transfers
        const ULONG bytes = GetTransferBytes(shape, pacing, 10, 0);
        ASSERT_NE(BuildPlaybackPackets(shape, pacing, bytes, 10, packets.data(), kIsoMaxPackets),
                  0u);
        frames += bytes / 8;
      }
      EXPECT_EQ(frames, ULONGLONG{row.rate} * 60) << row.rate << " high speed " << int(highSpeed);
    }
  }
}

TEST(ExplicitFeedbackPackets, WholeFramesFillEveryMicroframeAndKeepTheFraction) {
  PlaybackPacing pacing = FeedbackPacing(0x60000, 0x1234);
  EXPECT_EQ(GetTransferBytes(kHighSpeedStereo32, pacing, 1, 0x60000), 384u);
  EXPECT_EQ(Build(kHighSpeedStereo32, pacing, 384, 1), Consecutive(Repeat(48, 8)));
  EXPECT_EQ(pacing.accumulator, 0x1234);
}

TEST(ExplicitFeedbackPackets, CountsRoundedToAMillisecondAreSpreadEvenly) {
  // 0x58333 is 5.5125 frames per microframe: from a zero fraction five steps carry
  // 5, 6, 5, 6, 5 frames = 27 frames, which the millisecond rounding shares over 8 packets.
  PlaybackPacing pacing = FeedbackPacing(0x58333, 0);
  EXPECT_EQ(BuildPlaybackPackets(kHighSpeedStereo32, pacing, 27 * 8, 1, nullptr, 0), 8u);
  EXPECT_EQ(
      Build(kHighSpeedStereo32, pacing, 27 * 8, 1),
      PacketList({{0, 0}, {32, 0}, {64, 0}, {96, 0}, {120, 0}, {144, 0}, {168, 0}, {192, 0}}));
  EXPECT_EQ(pacing.accumulator, 0);
}

TEST(ExplicitFeedbackPackets, TheAccumulatorCarriesEveryFractionAcrossTransfers) {
  struct Case {
    IsoStreamShape shape;
    ULONG feedback;
  } cases[] = {
      {kFullSpeedStereo16, 0x2C199A},  // 44.1 kHz
      {kFullSpeedStereo16, 0x2FFF00},  // a slow 48 kHz crystal
      {kHighSpeedStereo32, 0x58333},   // 44.1 kHz
      {kHighSpeedStereo32, 0x6000C},   // a fast 48 kHz crystal
  };
  for (const Case& c : cases) {
    PlaybackPacing pacing = FeedbackPacing(c.feedback, 0);
    ULONGLONG frames = 0;
    ULONGLONG steps = 0;
    for (ULONG transfer = 0; transfer < 1000; ++transfer) {
      const ULONG bytes = GetTransferBytes(c.shape, pacing, 1, c.feedback);
      const PacketList packets = Build(c.shape, pacing, bytes, 1);
      ULONG sent = 0;
      for (const auto& packet : packets) {
        sent += packet.second;
      }
      ASSERT_EQ(sent, bytes) << std::hex << c.feedback << " transfer " << transfer;
      frames += bytes / c.shape.bytesPerFrame;
      steps += TransferSteps(c.shape, 1);
    }
    EXPECT_EQ(frames, (steps * c.feedback) >> 16) << std::hex << c.feedback;
  }
}

TEST(ImplicitFeedbackPackets, CaptureBytesBecomeLongNormalAndShortPackets) {
  struct Case {
    const char* name;
    IsoStreamShape shape;
    ULONG nominal;
    BOOLEAN integralRate;
    ULONG bytes, milliseconds;
    std::vector<ULONG> lengths;
  } cases[] = {
      {"two frames over", kFullSpeedStereo16, 192, TRUE, 1928, 10,
       Join(Repeat(196, 2), Repeat(192, 8))},
      {"exact", kFullSpeedStereo16, 192, TRUE, 1920, 10, Repeat(192, 10)},
      {"two frames under", kFullSpeedStereo16, 192, TRUE, 1912, 10,
       Join(Repeat(192, 8), Repeat(188, 2))},
      {"under without short packets", kFullSpeedStereo16, 192, FALSE, 1912, 10,
       Join(Repeat(192, 9), {184})},
      {"far over", kFullSpeedStereo16, 192, TRUE, 2400, 10, Join(Repeat(192, 12), {96})},
      {"far under", kFullSpeedStereo16, 192, TRUE, 100, 10, {100}},
      {"high speed one over", kHighSpeedStereo32, 48, TRUE, 392, 1, Join({56}, Repeat(48, 7))},
      {"high speed padded to a millisecond", kHighSpeedStereo32, 48, TRUE, 600, 1,
       Join(Join(Repeat(48, 12), {24}), Repeat(0, 3))},
  };
  for (const Case& c : cases) {
    PlaybackPacing pacing = ImplicitPacing(c.nominal, c.integralRate);
    EXPECT_EQ(Build(c.shape, pacing, c.bytes, c.milliseconds), Consecutive(c.lengths)) << c.name;
  }
}

TEST(PlaybackPackets, UnusableInputsLayOutNothing) {
  struct Case {
    const char* name;
    IsoStreamShape shape;
    PlaybackPacing pacing;
  } cases[] = {
      {"no frame bytes", {FALSE, 1, 0}, PatternPacing(48000, FALSE)},
      {"no interval", {TRUE, 0, 8}, PatternPacing(48000, TRUE)},
      {"no pattern", kFullSpeedStereo16, PlaybackPacing{PlaybackPacingMode::RatePattern}},
      {"zero feedback", kHighSpeedStereo32, FeedbackPacing(0, 0)},
      {"feedback too slow for the packet limit", kHighSpeedStereo32, FeedbackPacing(0x100, 0)},
      {"implicit without nominal", kFullSpeedStereo16, ImplicitPacing(0, TRUE)},
  };
  for (Case& c : cases) {
    EXPECT_EQ(BuildPlaybackPackets(c.shape, c.pacing, 4096, 1, nullptr, 0), 0u) << c.name;
  }
}

TEST(PlaybackPackets, AnArraySmallerThanTheCountIsNotWritten) {
  for (PlaybackPacing pacing :
       {PatternPacing(48000, TRUE), FeedbackPacing(0x60000, 0), ImplicitPacing(48, TRUE)}) {
    std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets(8, {7, 7, 7});
    EXPECT_EQ(BuildPlaybackPackets(kHighSpeedStereo32, pacing, 384, 1, packets.data(), 7), 0u);
    EXPECT_EQ(packets[0].Offset, 7u);
  }
}

}  // namespace
