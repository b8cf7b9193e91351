// Streams through the real engine on the simulated bus: what the device plays is the source's
// position signal, bit-exact and gap-free; what it captures arrives the same way; faults are
// recovered and leave nothing behind.
#include <memory>

#include "stream_fixture.h"

namespace tarnlink::engine::testing {
namespace {

TEST_F(StreamTest, PlaybackReachesTheDeviceBitExactAndGapFree) {
  Plug("velmor-dac");
  std::unique_ptr<PositionSource> source;
  InKernel([&] {
    CStreamEngine& engine = Engine();
    ASSERT_EQ(engine.OpenDirection(kDirectionPlayback), STATUS_SUCCESS);
    source = std::make_unique<PositionSource>(engine.UsbFormatOf(kDirectionPlayback), false);
    engine.PlaybackEngineOf(StreamUser::Os).SetSource(source.get());
    ASSERT_EQ(engine.StartPlaybackEngine(StreamUser::Os), STATUS_SUCCESS);
  });
  RunMs(2000);
  // The FIFO runs dry once the stream stops; until then it never may.
  const auto whileStreaming = Sink().Counters();
  InKernel([&] {
    Engine().PlaybackEngineOf(StreamUser::Os).Stop();
    EXPECT_EQ(Engine().CloseDirection(kDirectionPlayback), STATUS_SUCCESS);
  });
  const auto& sink = Sink();
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen = sink.Check(channel);
    EXPECT_TRUE(seen.Clean()) << "channel " << channel << " first break " << seen.firstBreak;
    EXPECT_GT(seen.frames, 40000u);
  }
  EXPECT_EQ(whileStreaming.underruns, 0u);
  EXPECT_EQ(whileStreaming.overruns, 0u);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
}  // namespace tarnlink::engine::testing
