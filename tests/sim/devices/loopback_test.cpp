// The loopback cable: what the converter plays reaches the input after the device's delay,
// in the input's own subslots and resolution, with silence wherever nothing was played.
#include <gtest/gtest.h>

#include <vector>

#include "sim/devices/byte_writer.h"
#include "sim/devices/capture_source.h"
#include "sim/devices/loopback_line.h"
#include "sim/devices/playback_sink.h"

namespace sim::devices {
namespace {

constexpr uint64_t kMsNs = 1000000;

TEST(Loopback, TheInputHearsWhatTheConverterPlayedAfterTheDelay) {
  constexpr uint32_t kRate = 48000, kDelay = 37, kTarget = 192;
  LoopbackLine line(kDelay);
  // 24 bits in 4-byte subslots out, 24 bits in 3-byte subslots in.
  const SampleLayout out{4, 24}, in{3, 24};
  PlaybackSink sink;
  sink.Start({2, out, 8000, 4800, kTarget, false, &line}, ClockTimeline(kRate, 0, 0), false);
  CaptureSource source;
  source.Start({2, in, 0, &line}, ClockTimeline(kRate, 0, 0));

  std::vector<uint32_t> heard[2];
  uint64_t sent = 0;
  for (uint64_t tick = 0; tick < 8 * 100; ++tick) {  // 100 ms of microframes
    const uint64_t now = tick * kMsNs / 8;
    if (tick % 8 == 0) {
      ByteWriter packet;
      for (int f = 0; f < 48; ++f, ++sent) {
        for (unsigned c = 0; c < 2; ++c) packet.U32(PositionSignal::Encode(sent, c, out));
      }
      sink.Receive(packet.Get(), now);
    }
    sink.Advance(now);
    uint8_t buffer[6 * 64];
    const size_t n = source.Produce(now, kMsNs / 8, buffer);
    for (size_t at = 0; at < n; at += 3) heard[(at / 3) % 2].push_back(ReadLe(buffer + at, 3));
  }
  // The converter starts when its FIFO holds the target, 3 ms in (frame time 144); the input
  // hears its first frame kDelay frames later.
  for (unsigned c = 0; c < 2; ++c) {
    const Continuity seen = CheckContinuity(heard[c], c, in);
    EXPECT_TRUE(seen.Clean()) << "channel " << c << " breaks at " << seen.firstBreak;
    EXPECT_EQ(seen.leadingSilence, 144u + kDelay);
    EXPECT_EQ(PositionSignal::DecodeFrame(heard[c][seen.leadingSilence], in), 0u);
  }
}

TEST(Loopback, ConvertersKeepOnlyTheBitsTheyResolveAndGapsAreSilent) {
  LoopbackLine line(0);
  const uint32_t word = 0x12345678;
  // A 16-bit converter plays the top 16 bits; a 24-bit input in 4-byte subslots hears them.
  line.Play(10, &word, 1, {4, 16});
  line.Play(12, &word, 1, {4, 16});
  EXPECT_EQ(line.Hear(10, 0, {4, 24}), 0x12340000u);
  EXPECT_EQ(line.Hear(11, 0, {4, 24}), 0u) << "nothing played at 11";
  // A 2-byte input keeps its 16 bits right in its subslot.
  EXPECT_EQ(line.Hear(12, 0, {2, 16}), 0x1234u);
  EXPECT_EQ(line.Hear(12, 1, {2, 16}), 0u) << "a channel the output does not have";
  EXPECT_EQ(line.Hear(13, 0, {2, 16}), 0u) << "not played yet";
}

}  // namespace
}  // namespace sim::devices
