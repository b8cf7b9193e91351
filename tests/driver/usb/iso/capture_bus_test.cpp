// A simulated minute of capture, and of implicit-feedback playback paced by it, through the
// device model's transfer engine against catalogue devices on the simulated bus, with a
// stand-in caller keeping 8 one-millisecond transfers in flight per direction.
#include <gtest/gtest.h>

#include "engine_stand_in.h"
#include "sim/devices/position_signal.h"

namespace tarnlink::iso::testing {
namespace {

using sim::devices::SampleLayout;

constexpr ULONG kFrameBytes = 8;  // stereo, 4-byte subslots

TEST_F(EngineTest, AMinuteOfCaptureArrivesInOrderWithNoFrameLost) {
  PlugStarted("velmor-dac");
  CaptureStream capture;
  capture.model = model_;
  capture.frameBytes = kFrameBytes;
  capture.transferBytes = SelectFormat(1, 2, 32, 48000);
  capture.AddSlots(kInFlight, capture.transferBytes);
  AtDispatch([&] { capture.Start(); });
  const sim::devices::CaptureSource& source = *device_->inner().Source(2);
  // Frames the device made before the first poll belong to intervals nobody asked for.
  ASSERT_TRUE(kernel().RunFor(kSecond));
  const uint64_t droppedAtStart = source.FramesDropped();
  ASSERT_TRUE(kernel().RunFor(60 * kSecond));
  EXPECT_EQ(source.FramesDropped(), droppedAtStart);
  Drain({&capture});

  EXPECT_EQ(capture.counters.failedSubmissions + capture.counters.failedCompletions, 0u);
  EXPECT_EQ(capture.framesReceived, source.FramesSent());
  EXPECT_GT(capture.framesReceived, 61u * 48000 - 48);
  const sim::devices::Continuity continuity =
      sim::devices::CheckContinuity(capture.channel0, 0, SampleLayout{4, 32});
  EXPECT_TRUE(continuity.Clean()) << "first break at " << continuity.firstBreak;
  EXPECT_EQ(continuity.frames + continuity.leadingSilence, capture.framesReceived);
}

TEST_F(EngineTest, ImplicitFeedbackPlaybackCarriesWhatTheCaptureStreamSaid) {
  PlugStarted("uac2-implicit");
  ASSERT_TRUE(model_->IsImplicitFeedbackMode());
  FollowerStream playback;
  playback.model = model_;
  playback.frameBytes = kFrameBytes;
  playback.AddSlots(kInFlight, SelectFormat(0, 2, 24, 48000));
  CaptureStream capture;
  capture.model = model_;
  capture.frameBytes = kFrameBytes;
  capture.transferBytes = SelectFormat(1, 2, 24, 48000);
  capture.AddSlots(kInFlight, capture.transferBytes);
  capture.onData = [&](ULONG bytes) { playback.Captured(bytes); };
  AtDispatch([&] {
    playback.Start();
    capture.Start();
  });

  ASSERT_TRUE(kernel().RunFor(kSecond));
  const sim::devices::SinkCounters settled = device_->inner().Sink(1)->Counters();
  ASSERT_TRUE(kernel().RunFor(60 * kSecond));
  const sim::devices::SinkCounters after = device_->inner().Sink(1)->Counters();
  Drain({&capture, &playback});

  EXPECT_EQ(capture.counters.failedSubmissions + capture.counters.failedCompletions, 0u);
  EXPECT_EQ(playback.counters.failedSubmissions + playback.counters.failedCompletions, 0u);
  EXPECT_EQ(playback.counters.badReports, 0u) << "each transfer sent what it was given";
  EXPECT_EQ(device_->inner().Sink(1)->Counters().framesReceived, playback.framesSent);
  // Every captured frame went back out, except what still waited when the streams stopped.
  uint64_t framesWaiting = 0;
  for (ULONG bytes : playback.pending) framesWaiting += bytes / kFrameBytes;
  EXPECT_EQ(playback.framesSent + framesWaiting, capture.framesReceived);
  EXPECT_GT(playback.framesSent, 60u * 48000);
  EXPECT_EQ(after.underruns, settled.underruns);
  EXPECT_EQ(after.overruns, settled.overruns);
  EXPECT_EQ(device_->inner().ViolationCount(), 0u);
}

}  // namespace
}  // namespace tarnlink::iso::testing
