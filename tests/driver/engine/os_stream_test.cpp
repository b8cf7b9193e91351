// The operating-system stream through the engine: a stand-in for the WaveRT miniport queues
// the chunks of its cyclic buffers through the adapter, as the real stream does, and the
// engine's own source and sink move the audio, converting between the stream's format and the
// device's.
#include <cstring>
#include <vector>

#include "fake_miniport.h"
#include "stream_fixture.h"

namespace tarnlink::engine::testing {
namespace {

TEST_F(StreamTest, OperatingSystemStreamPlaysAndRecordsThroughTheChunkQueues) {
  Plug("velmor-dac");
  const ULONG rate = Engine().FixedRate();
  // 16-bit playback widened for the device, 32-bit capture copied as the device sends it.
  FakeMiniport miniport(Adapter(), {2, 16}, 2, 8);
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    ASSERT_EQ(adapter->RegisterMiniport(&miniport), STATUS_SUCCESS);
    ASSERT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 16, rate), STATUS_SUCCESS);
    ASSERT_EQ(adapter->SetOsFormat(kDirectionCapture, 1, 2, 32, rate), STATUS_SUCCESS);
    ASSERT_EQ(adapter->StartOsDirection(kDirectionCapture, 8 * rate / 100), STATUS_SUCCESS);
    ASSERT_EQ(adapter->StartOsDirection(kDirectionPlayback, 4 * rate / 100), STATUS_SUCCESS);
    captureLayout = DeviceLayout(kDirectionCapture);
  });
  const auto counters = RunStreaming(3000);
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    adapter->StopOsDirection(kDirectionPlayback);
    adapter->StopOsDirection(kDirectionCapture);
    adapter->ClearOsFormat(kDirectionPlayback);
    adapter->ClearOsFormat(kDirectionCapture);
    adapter->UnregisterMiniport(&miniport);
  });
  ExpectNoFifoFaults(counters);
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto played = SinkContinuity(Sink(), channel, {4, 16});
    EXPECT_TRUE(played.Clean()) << "played channel " << channel << " break " << played.firstBreak;
    EXPECT_GT(played.frames, 100000u);
    const auto recorded =
        sim::devices::CheckContinuity(miniport.CapturedChannel(channel), channel, captureLayout);
    EXPECT_TRUE(recorded.Clean()) << "recorded channel " << channel;
    EXPECT_GT(recorded.frames, 100000u);
  }
  // Capture clocks this device's stream; no timer of the source's own runs.
  EXPECT_EQ(miniport.positionCalls, 0u);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// Playback alone on a device with capture: the capture completions that clock the stream come
// before the first playback transfer is back, and the stream's audio waits for it rather than
// being read and lost. The device's first frame is the stream's first.
TEST_F(StreamTest, PlaybackAloneStartsWithTheStreamsFirstFrame) {
  Plug("velmor-dac");
  // 16-bit playback, widened for the device.
  FakeMiniport miniport(Adapter(), {2, 16}, 2, 8);
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    ASSERT_EQ(adapter->RegisterMiniport(&miniport), STATUS_SUCCESS);
    ASSERT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 16, Engine().FixedRate()),
              STATUS_SUCCESS);
    ASSERT_EQ(adapter->StartOsDirection(kDirectionPlayback, 2 * Engine().FixedRate() / 100),
              STATUS_SUCCESS);
  });
  ExpectNoFifoFaults(RunStreaming(1000));
  InKernel([&] {
    Adapter()->StopOsDirection(kDirectionPlayback);
    Adapter()->ClearOsFormat(kDirectionPlayback);
    Adapter()->UnregisterMiniport(&miniport);
  });
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto played = SinkContinuity(Sink(), channel, {4, 16});
    EXPECT_TRUE(played.Clean()) << "channel " << channel << " break " << played.firstBreak;
    EXPECT_EQ(played.firstFrame, 0u) << "channel " << channel;
  }
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, PlaybackOnlyDeviceIsDrivenByTheMillisecondTimer) {
  Plug("uac2-playback-only", [](sim::devices::DeviceBehaviour& b) { b.keepSamples = false; });
  FakeMiniport miniport(Adapter(), {4, 32}, 2, 8);
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    ASSERT_EQ(adapter->RegisterMiniport(&miniport), STATUS_SUCCESS);
    ASSERT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 32, 48000), STATUS_SUCCESS);
    ASSERT_EQ(adapter->StartOsDirection(kDirectionPlayback, 8 * 480), STATUS_SUCCESS);
  });
  const auto counters = RunStreaming(kProofMs);
  ExpectPlayedCleanSoFar();
  InKernel([&] {
    Adapter()->StopOsDirection(kDirectionPlayback);
    Adapter()->ClearOsFormat(kDirectionPlayback);
  });
  const uint64_t ticks = miniport.positionCalls;
  RunMs(100);
  EXPECT_EQ(miniport.positionCalls, ticks) << "the timer stopped with the stream";
  // One tick per millisecond, give or take the start.
  EXPECT_GE(ticks, kProofMs - 10);
  EXPECT_LE(ticks, kProofMs + 10);
  ExpectNoFifoFaults(counters);
  EXPECT_GT(counters.framesPlayed, 48 * (kProofMs - 1000));
  InKernel([&] { Adapter()->UnregisterMiniport(&miniport); });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
}  // namespace tarnlink::engine::testing
