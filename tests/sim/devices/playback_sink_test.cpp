// The playback sink's own check of what it receives: a DSD stream's idle words before the
// signal count as its leading silence, and any later one breaks the sequence; and its converter,
// which starts afresh with every stream.
#include <gtest/gtest.h>

#include "sim/devices/byte_writer.h"
#include "sim/devices/playback_sink.h"

namespace sim::devices {
namespace {

TEST(PlaybackSink, DsdIdleWordsBeforeTheSignalAreItsLeadingSilence) {
  constexpr uint32_t kIdle = 0x96969696;
  const SampleLayout layout{4, 32};
  PlaybackSink sink;
  sink.Start({1, layout, 8000, 4096, 64, false, nullptr}, ClockTimeline(88200, 0, 0), true);
  ByteWriter packet;
  for (int k = 0; k < 5; ++k) packet.U32(kIdle);
  for (uint64_t frame = 0; frame < 10; ++frame) packet.U32(PositionSignal::Encode(frame, 0, layout));
  sink.Receive(packet.Get(), 0);
  Continuity seen = sink.Check(0);
  EXPECT_TRUE(seen.Clean()) << seen.firstBreak;
  EXPECT_EQ(seen.leadingSilence, 5u);
  EXPECT_EQ(seen.frames, 10u);
  EXPECT_EQ(sink.Counters().dsdIdleWords, 5u);

  ByteWriter later;
  later.U32(kIdle);
  later.U32(PositionSignal::Encode(10, 0, layout));
  sink.Receive(later.Get(), 0);
  seen = sink.Check(0);
  EXPECT_FALSE(seen.Clean());
  EXPECT_EQ(seen.firstBreak, 15);
}

// A stream after an earlier one starts its converter on its own clock: the frames the first
// stream played do not count as already due, so the FIFO is not drained at once.
TEST(PlaybackSink, ASecondStreamPlaysByItsOwnClock) {
  const SampleLayout layout{4, 32};
  const SinkFormat format{1, layout, 1000, 4096, 48, false, nullptr};
  constexpr uint64_t kMs = 1000000;
  PlaybackSink sink;
  ByteWriter packet;
  for (int f = 0; f < 48; ++f) packet.U32(0);
  uint64_t now = 0;
  sink.Start(format, ClockTimeline(48000, 0, now), false);
  for (int ms = 0; ms < 100; ++ms, now += kMs) sink.Receive(packet.Get(), now);
  sink.Stop();
  now += 50 * kMs;
  sink.Start(format, ClockTimeline(48000, 0, now), false);
  sink.Receive(packet.Get(), now);
  now += kMs / 2;
  sink.Receive(packet.Get(), now);
  // Half a millisecond after it started playing the converter took 24 frames of 96.
  EXPECT_EQ(sink.Level(), 72u);
  EXPECT_EQ(sink.Counters().underruns, 0u);
}

}  // namespace
}  // namespace sim::devices
