// A simulated minute of playback per pacing mode against catalogue devices on the simulated
// bus, with a stand-in caller keeping 8 one-millisecond transfers in flight.
#include <gtest/gtest.h>

#include "bus_stand_in.h"

namespace tarnlink::iso::testing {
namespace {

using sim::devices::UsbSpeed;

constexpr ULONG kInFlight = 8;
constexpr uint64_t kSecond = 10000000;  // machine time counts 100 ns units

struct PlaybackStandIn : StandIn {
  USBD_PIPE_INFORMATION data{};
  IsoStreamShape shape{};
  PlaybackPacing pacing{};
  ULONG transferLimit = 0;  // 0: until stopped
  ULONG submitted = 0;
  uint64_t framesSent = 0;
  std::vector<std::unique_ptr<Transfer>> transfers;
  // Explicit feedback, accepted as the stream engine accepts it.
  USBD_PIPE_INFORMATION feedbackPipe{};
  std::unique_ptr<Transfer> feedback;
  ULONG nominal = 0;
  ULONG latest = 0;
  ULONG lastRaw = 0;
  uint64_t feedbackReads = 0;
  uint64_t feedbackRejected = 0;

  void SubmitPlayback(Transfer& t) {
    if (transferLimit != 0 && submitted == transferLimit) {
      --running;
      return;
    }
    if (pacing.mode == PlaybackPacingMode::ExplicitFeedback) pacing.feedback = latest;
    const ULONG bytes = GetTransferBytes(shape, pacing, 1, pacing.feedback);
    auto& iso = t.Iso();
    const ULONG count = BuildPlaybackPackets(shape, pacing, bytes, 1, nullptr, 0);
    if (count == 0 || bytes > t.buffer.size() ||
        BuildPlaybackPackets(shape, pacing, bytes, 1, iso.IsoPacket, count) != count) {
      ++errors;
      --running;
      return;
    }
    t.SetPlayback(data.PipeHandle, bytes, count);
    ++submitted;
    if (Submit(t, OnPlayback)) framesSent += bytes / shape.bytesPerFrame;
  }
  static void OnPlayback(PURB urb, NTSTATUS status, void* context) {
    auto* s = static_cast<PlaybackStandIn*>(context);
    if (!NT_SUCCESS(status)) ++s->errors;
    for (auto& t : s->transfers) {
      if (t->Urb() == urb) s->SubmitPlayback(*t);
    }
  }

  void SubmitFeedback() {
    auto& iso = feedback->Iso();
    const ULONG bytes = FeedbackBufferSize(&feedbackPipe, shape.highSpeed);
    const ULONG packets = FeedbackReadPacketCount(feedbackPipe, bytes);
    feedback->SetHeader(packets);
    FillPipeIsochUrb(iso, feedbackPipe, feedback->buffer.data(), bytes, kIsoReadFlags, 0, packets);
    Submit(*feedback, OnFeedback);
  }
  static void OnFeedback(PURB, NTSTATUS status, void* context) {
    auto* s = static_cast<PlaybackStandIn*>(context);
    auto& iso = s->feedback->Iso();
    if (!NT_SUCCESS(status)) {
      ++s->errors;
    } else {
      const FeedbackRead read{iso.IsoPacket, iso.NumberOfPackets, s->feedback->buffer.data(),
                              ULONG(s->feedback->buffer.size()), iso.TransferBufferLength};
      ULONG value = DecodeFeedback(read, s->lastRaw);
      if (value < 0x10000 || value + 0x10000 < s->nominal || value > s->nominal + 0x10000) {
        value = s->nominal;
        ++s->feedbackRejected;
      }
      s->latest = value;
      ++s->feedbackReads;
    }
    s->SubmitFeedback();
  }
};

class PlaybackBusTest : public IsoBusTest {
 protected:
  void Plug(std::string_view name, UsbSpeed busSpeed, const double* crystalPpm = nullptr) {
    IsoBusTest::Plug(name, busSpeed, crystalPpm);
    stream_.controller = controller_.get();
  }

  void StartStream(ULONG transferBytes) {
    for (ULONG k = 0; k < kInFlight; ++k) {
      stream_.transfers.push_back(std::make_unique<Transfer>(transferBytes));
    }
    stream_.StartAll(stream_.transfers, [&](Transfer& t) { stream_.SubmitPlayback(t); });
  }
  void Stop() {
    stream_.stopping = true;
    ASSERT_TRUE(kernel().RunUntil([&] { return stream_.running == 0; }));
  }

  PlaybackStandIn stream_;
};

class ExplicitFeedbackBusTest : public PlaybackBusTest,
                                public ::testing::WithParamInterface<double> {};

TEST_P(ExplicitFeedbackBusTest, TheDeviceReceivesExactlyWhatItConsumes) {
  const double ppm = GetParam();
  Plug(sim::devices::kDefaultDeviceName, UsbSpeed::High, &ppm);
  PUSBD_INTERFACE_INFORMATION info = StartPlayback(3, 48000);  // stereo, 32-bit containers
  ASSERT_EQ(info->NumberOfPipes, 2u);
  stream_.data = info->Pipes[0];
  stream_.feedbackPipe = info->Pipes[1];
  stream_.shape = {TRUE, 1, 8};
  stream_.nominal = NominalFeedback(48000, TRUE, kDirectionPlayback, 1);
  stream_.latest = stream_.nominal;
  stream_.pacing = {.mode = PlaybackPacingMode::ExplicitFeedback};
  stream_.feedback = std::make_unique<Transfer>(FeedbackBufferSize(&stream_.feedbackPipe, TRUE));
  KIRQL irql;
  KeRaiseIrql(DISPATCH_LEVEL, &irql);
  ++stream_.running;
  stream_.SubmitFeedback();
  KeLowerIrql(irql);
  StartStream(8 * 8 * 8);

  ASSERT_TRUE(kernel().RunFor(5 * kSecond));  // start-up: the FIFO settles at its target
  const sim::devices::SinkCounters settled = device_->Sink(1)->Counters();
  const uint64_t poolAllocations = kernel().PoolTotals().totalCount;
  ASSERT_TRUE(kernel().RunFor(60 * kSecond));
  const sim::devices::SinkCounters after = device_->Sink(1)->Counters();
  // Sizing, layout and feedback decoding take nothing from pool; these URBs are the caller's.
  EXPECT_EQ(kernel().PoolTotals().totalCount, poolAllocations);
  Stop();

  EXPECT_EQ(stream_.errors, 0u);
  EXPECT_EQ(stream_.feedbackRejected, 0u);
  EXPECT_GT(stream_.feedbackReads, 60u * 250);
  EXPECT_EQ(after.underruns, settled.underruns);
  EXPECT_EQ(after.overruns, settled.overruns);
  EXPECT_EQ(after.framesLost, settled.framesLost);
  // Received and played differ only by the FIFO level, which stays near its target.
  const double consumed = 60 * 48000 * (1 + ppm * 1e-6);
  EXPECT_NEAR(double(after.framesReceived - settled.framesReceived), consumed, 48);
  EXPECT_NEAR(double(after.framesPlayed - settled.framesPlayed), consumed, 48);
}

INSTANTIATE_TEST_SUITE_P(CrystalOffsets, ExplicitFeedbackBusTest, ::testing::Values(-100.0, 100.0),
                         [](const auto& offset) { return offset.param < 0 ? "slow" : "fast"; });

TEST_F(PlaybackBusTest, RatePatternDeliversExactlyTheRateForAMinute) {
  Plug("uac1-speaker", UsbSpeed::Full);
  ASSERT_EQ(Configure(), STATUS_SUCCESS);
  ASSERT_EQ(SelectInterface(1, 1, &playback_), STATUS_SUCCESS);
  std::vector<UCHAR> rate = {0x44, 0xAC, 0x00};  // 44100 Hz
  ASSERT_EQ(ClassRequest(URB_FUNCTION_CLASS_ENDPOINT, false, 0x01, 0x0100, 0x01, &rate),
            STATUS_SUCCESS);
  stream_.data = Record(playback_)->Pipes[0];
  stream_.shape = {FALSE, 1, 4};
  stream_.pacing = {.mode = PlaybackPacingMode::RatePattern,
                    .pattern = FindRatePatternRow(44100)->fullSpeed};
  stream_.transferLimit = 60 * 1000;
  StartStream(46 * 4);
  ASSERT_TRUE(kernel().RunUntil([&] { return stream_.running == 0; }));

  EXPECT_EQ(stream_.errors, 0u);
  EXPECT_EQ(stream_.framesSent, 44100u * 60);
  EXPECT_EQ(device_->Sink(1)->Counters().framesReceived, 44100u * 60);
  EXPECT_EQ(device_->Sink(1)->Counters().overruns, 0u);
}

}  // namespace
}  // namespace tarnlink::iso::testing
