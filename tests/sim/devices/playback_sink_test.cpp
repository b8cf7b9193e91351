// The playback sink's own check of what it receives: a DSD stream's idle words before the
// signal count as its leading silence, and any later one breaks the sequence.
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

}  // namespace
}  // namespace sim::devices
