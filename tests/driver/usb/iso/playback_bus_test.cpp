// A simulated minute of playback per pacing mode through the device model's transfer engine,
// against catalogue devices on the simulated bus, with a stand-in caller keeping 8
// one-millisecond transfers in flight.
#include <gtest/gtest.h>

#include "engine_stand_in.h"

namespace tarnlink::iso::testing {
namespace {

using kernel::PoolTag;

class ExplicitFeedbackBusTest : public EngineTest, public ::testing::WithParamInterface<double> {};

TEST_P(ExplicitFeedbackBusTest, TheDeviceReceivesExactlyWhatItConsumes) {
  const double ppm = GetParam();
  PlugStarted("velmor-dac", [&](sim::devices::DeviceBehaviour& b) { b.crystalPpm = ppm; });
  const ULONG maxBytes = SelectFormat(0, 2, 32, 48000);
  PlaybackStream playback;
  playback.Setup(model_, 8, maxBytes);
  FeedbackStream feedback;
  feedback.model = model_;
  feedback.nominal = model_->NominalFeedback(0);
  feedback.AddSlots(1, model_->GetFeedbackBufferSize());
  AtDispatch([&] {
    feedback.Start();
    playback.Start();
  });

  ASSERT_TRUE(kernel().RunFor(5 * kSecond));  // start-up: the device's FIFO settles
  const sim::devices::SinkCounters settled = device_->inner().Sink(1)->Counters();
  const uint64_t allocations = kernel().PoolTotals().totalCount;
  const uint64_t requests = playback.counters.submitted + feedback.counters.submitted;
  ASSERT_TRUE(kernel().RunFor(60 * kSecond));
  const sim::devices::SinkCounters after = device_->inner().Sink(1)->Counters();
  // Requests allocate nothing once running: URBs come back from the engine's cache, contexts
  // from the look-aside list, IRPs from the pool, and packet layout and feedback decoding
  // allocate nothing.
  EXPECT_GT(playback.counters.submitted + feedback.counters.submitted, requests);
  EXPECT_EQ(kernel().PoolTotals().totalCount, allocations);
  Drain({&playback, &feedback});

  EXPECT_EQ(playback.counters.failedSubmissions + playback.counters.failedCompletions, 0u);
  EXPECT_EQ(playback.counters.badReports, 0u);
  EXPECT_EQ(feedback.counters.failedCompletions, 0u);
  EXPECT_EQ(feedback.rejected, 0u);
  EXPECT_GT(feedback.counters.completed, 60u * 250);
  EXPECT_EQ(after.underruns, settled.underruns);
  EXPECT_EQ(after.overruns, settled.overruns);
  EXPECT_EQ(after.framesLost, settled.framesLost);
  // Received and played differ only by the FIFO level, which stays near its target.
  const double consumed = 60 * 48000 * (1 + ppm * 1e-6);
  EXPECT_NEAR(double(after.framesReceived - settled.framesReceived), consumed, 48);
  EXPECT_NEAR(double(after.framesPlayed - settled.framesPlayed), consumed, 48);
  EXPECT_EQ(device_->inner().ViolationCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(CrystalOffsets, ExplicitFeedbackBusTest, ::testing::Values(-100.0, 100.0),
                         [](const auto& offset) { return offset.param < 0 ? "slow" : "fast"; });

// Half the transfers go out from MDLs, which the USB stack maps.
TEST_F(EngineTest, RatePatternDeliversExactlyTheRateForAMinute) {
  PlugStarted("uac1-speaker");
  const ULONG maxBytes = SelectFormat(0, 2, 16, 44100);
  PlaybackStream playback;
  playback.Setup(model_, 4, maxBytes, 60 * 1000);
  LockMdls(playback);
  AtDispatch([&] { playback.Start(); });
  ASSERT_TRUE(kernel().RunUntil([&] { return playback.counters.completed == 60 * 1000; }));
  FreeMdls(playback);

  EXPECT_EQ(playback.counters.failedSubmissions + playback.counters.failedCompletions, 0u);
  EXPECT_EQ(playback.counters.badReports, 0u);
  EXPECT_EQ(playback.framesSent, 44100u * 60);
  EXPECT_EQ(device_->inner().Sink(1)->Counters().framesReceived, 44100u * 60);
  EXPECT_EQ(device_->inner().Sink(1)->Counters().overruns, 0u);
  EXPECT_EQ(model_->PatternPosition(), 0u) << "a whole number of pattern cycles was sent";
}

// The length-header device gets its packets from a copy the engine builds, from the caller's
// buffer or from an MDL it maps; the copies are freed with their requests.
TEST_F(EngineTest, LengthHeaderPacketsCarryTheRateFromBuffersAndMdls) {
  PlugStarted("quirk-length-header");
  const ULONG maxBytes = SelectFormat(0, 2, 24, 48000);
  PlaybackStream playback;
  playback.Setup(model_, 6, maxBytes, 2000);
  LockMdls(playback);
  AtDispatch([&] { playback.Start(); });
  ASSERT_TRUE(kernel().RunUntil([&] { return playback.counters.completed == 2000; }));
  FreeMdls(playback);

  EXPECT_EQ(playback.counters.failedSubmissions + playback.counters.failedCompletions, 0u);
  EXPECT_EQ(playback.counters.badReports, 0u) << "completions report the audio bytes";
  EXPECT_EQ(device_->inner().Sink(1)->Counters().framesReceived, 48000u * 2);
  EXPECT_EQ(device_->inner().ViolationCount(), 0u);
  EXPECT_EQ(kernel().PoolStats(PoolTag("BPMT")).liveCount, 0u);
  EXPECT_EQ(kernel().PoolStats(PoolTag("BPMT")).totalCount, 2000u);
}

}  // namespace
}  // namespace tarnlink::iso::testing
