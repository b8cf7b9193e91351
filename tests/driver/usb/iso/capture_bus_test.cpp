// A simulated minute of capture, and of implicit-feedback playback paced by it, against
// catalogue devices on the simulated bus, with a stand-in caller keeping 8 one-millisecond
// transfers in flight.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "bus_stand_in.h"

namespace tarnlink::iso::testing {
namespace {

using sim::devices::SampleLayout;

constexpr ULONG kInFlight = 8;
constexpr uint64_t kSecond = 10000000;  // machine time counts 100 ns units
constexpr ULONG kFrameBytes = 8;        // stereo, 4-byte subslots

// Implicit feedback: each playback transfer carries exactly what one capture transfer said.
struct PlaybackFollower : StandIn {
  USBD_PIPE_INFORMATION pipe{};
  IsoStreamShape shape{TRUE, 1, kFrameBytes};
  PlaybackPacing pacing{};
  std::vector<std::unique_ptr<Transfer>> transfers;
  std::vector<Transfer*> idle;
  std::deque<ULONG>* captured = nullptr;
  uint64_t framesSent = 0;
  uint64_t layoutMismatches = 0;

  // Sends what the capture side has measured, as long as a transfer is free.
  void Pump() {
    while (!stopping && !idle.empty() && !captured->empty()) {
      Transfer& t = *idle.back();
      idle.pop_back();
      const ULONG bytes = captured->front();
      captured->pop_front();
      auto& iso = t.Iso();
      const ULONG count =
          BuildPlaybackPackets(shape, pacing, bytes, 1, iso.IsoPacket, kIsoMaxPackets);
      ULONG laidOut = 0;
      for (ULONG k = 0; k < count; ++k) laidOut += iso.IsoPacket[k].Length;
      if (count == 0 || laidOut != bytes) ++layoutMismatches;
      t.SetPlayback(pipe.PipeHandle, bytes, count);
      ++running;
      if (Submit(t, OnPlayback)) framesSent += bytes / kFrameBytes;
    }
  }
  static void OnPlayback(PURB urb, NTSTATUS status, void* context) {
    auto* s = static_cast<PlaybackFollower*>(context);
    if (!NT_SUCCESS(status)) ++s->errors;
    --s->running;
    for (auto& t : s->transfers) {
      if (t->Urb() == urb) s->idle.push_back(t.get());
    }
    s->Pump();
  }
};

struct CaptureStandIn : StandIn {
  USBD_PIPE_INFORMATION pipe{};
  CapturePacketWindow window{};
  ULONG transferBytes = 0;
  std::vector<std::unique_ptr<Transfer>> transfers;
  std::vector<uint32_t> channel0;  // every captured frame's first sample, in order
  uint64_t framesReceived = 0;
  // Implicit feedback: what each capture transfer said, for the playback side to follow.
  std::deque<ULONG> captured;
  PlaybackFollower* follower = nullptr;

  void SubmitCapture(Transfer& t) {
    const ULONG packets = PipeTransferPacketCount(pipe, transferBytes, TRUE);
    t.SetHeader(packets);
    t.requested = transferBytes;
    FillPipeIsochUrb(t.Iso(), pipe, t.buffer.data(), transferBytes, kIsoReadFlags, 0, packets);
    Submit(t, OnCapture);
  }
  static void OnCapture(PURB urb, NTSTATUS status, void* context) {
    auto* s = static_cast<CaptureStandIn*>(context);
    for (auto& t : s->transfers) {
      if (t->Urb() != urb) continue;
      const CaptureResult result =
          NT_SUCCESS(status) ? FinishCaptureTransfer(status, t->Iso(), t->requested, &s->window)
                             : CaptureResult{status, 0};
      if (!NT_SUCCESS(result.status)) ++s->errors;
      for (ULONG offset = 0; offset + kFrameBytes <= result.bytes; offset += kFrameBytes) {
        uint32_t word;
        std::memcpy(&word, t->buffer.data() + offset, 4);
        s->channel0.push_back(word);
      }
      s->framesReceived += result.bytes / kFrameBytes;
      s->captured.push_back(result.bytes);
      if (s->follower != nullptr && s->captured.size() >= kInFlight) s->follower->Pump();
      s->SubmitCapture(*t);
    }
  }
};

class CaptureBusTest : public IsoBusTest {
 protected:
  void StartCapture(UCHAR interfaceNumber, UCHAR alternate, ULONG nominal) {
    ASSERT_EQ(SelectInterface(interfaceNumber, alternate, &capture_), STATUS_SUCCESS);
    capture_stream_.controller = controller_.get();
    capture_stream_.pipe = Record(capture_)->Pipes[0];
    capture_stream_.window = {nominal - kFrameBytes, nominal + kFrameBytes};
    capture_stream_.transferBytes = 8 * capture_stream_.pipe.MaximumPacketSize;
    for (ULONG k = 0; k < kInFlight; ++k) {
      capture_stream_.transfers.push_back(
          std::make_unique<Transfer>(capture_stream_.transferBytes));
    }
    capture_stream_.StartAll(capture_stream_.transfers,
                             [&](Transfer& t) { capture_stream_.SubmitCapture(t); });
  }
  void StopCapture() {
    capture_stream_.stopping = true;
    ASSERT_TRUE(kernel().RunUntil([&] { return capture_stream_.running == 0; }));
  }

  std::vector<UCHAR> capture_;
  CaptureStandIn capture_stream_;
};

TEST_F(CaptureBusTest, AMinuteOfCaptureArrivesInOrderWithNoFrameLost) {
  ASSERT_EQ(Configure(), STATUS_SUCCESS);
  RouteClock(48000);
  StartCapture(2, 3, 6 * kFrameBytes);  // stereo, 32-bit containers
  const sim::devices::CaptureSource& source = *device_->Source(2);
  // Frames the device made before the first poll belong to intervals nobody asked for.
  ASSERT_TRUE(kernel().RunFor(kSecond));
  const uint64_t droppedAtStart = source.FramesDropped();
  ASSERT_TRUE(kernel().RunFor(60 * kSecond));
  EXPECT_EQ(source.FramesDropped(), droppedAtStart);
  StopCapture();

  EXPECT_EQ(capture_stream_.errors, 0u);
  EXPECT_EQ(capture_stream_.framesReceived, source.FramesSent());
  EXPECT_GT(capture_stream_.framesReceived, 61u * 48000 - 48);
  const sim::devices::Continuity continuity =
      sim::devices::CheckContinuity(capture_stream_.channel0, 0, SampleLayout{4, 32});
  EXPECT_TRUE(continuity.Clean()) << "first break at " << continuity.firstBreak;
  EXPECT_EQ(continuity.frames + continuity.leadingSilence, capture_stream_.framesReceived);
}

TEST_F(CaptureBusTest, ImplicitFeedbackPlaybackCarriesWhatTheCaptureStreamSaid) {
  Plug("uac2-implicit", sim::devices::UsbSpeed::High);
  ASSERT_EQ(Configure(), STATUS_SUCCESS);
  RouteClock(48000);
  ASSERT_EQ(SelectInterface(1, 1, &playback_), STATUS_SUCCESS);
  PlaybackFollower playback;
  playback.controller = controller_.get();
  playback.pipe = Record(playback_)->Pipes[0];
  playback.pacing = {.mode = PlaybackPacingMode::ImplicitFeedback,
                     .nominalPacketBytes = 6 * kFrameBytes,
                     .integralRate = TRUE};
  playback.captured = &capture_stream_.captured;
  for (ULONG k = 0; k < kInFlight; ++k) {
    playback.transfers.push_back(std::make_unique<Transfer>(8 * playback.pipe.MaximumPacketSize));
    playback.idle.push_back(playback.transfers.back().get());
  }
  capture_stream_.follower = &playback;
  StartCapture(2, 1, 6 * kFrameBytes);

  ASSERT_TRUE(kernel().RunFor(kSecond));
  const sim::devices::SinkCounters settled = device_->Sink(1)->Counters();
  ASSERT_TRUE(kernel().RunFor(60 * kSecond));
  const sim::devices::SinkCounters after = device_->Sink(1)->Counters();
  playback.stopping = true;
  StopCapture();
  ASSERT_TRUE(kernel().RunUntil([&] { return playback.running == 0; }));

  EXPECT_EQ(capture_stream_.errors, 0u);
  EXPECT_EQ(playback.errors, 0u);
  EXPECT_EQ(playback.layoutMismatches, 0u);
  EXPECT_EQ(device_->Sink(1)->Counters().framesReceived, playback.framesSent);
  EXPECT_GT(playback.framesSent, 60u * 48000);
  EXPECT_EQ(after.underruns, settled.underruns);
  EXPECT_EQ(after.overruns, settled.overruns);
}

}  // namespace
}  // namespace tarnlink::iso::testing
