// A simulated minute of asynchronous playback paced only by the explicit feedback read over
// the bus: the average of the values read matches the device's true rate.
#include <gmock/gmock.h>

#include <cstring>

#include "bus_fixture.h"
#include "iso_urb.h"

namespace sim::usb::testing {
namespace {

constexpr uint32_t kRate = 48000;
constexpr ULONG kFrameBytes = 8;
constexpr uint64_t kTicksPerSecond = 8000;

struct Stream {
  HostController* controller = nullptr;
  std::unique_ptr<IsoUrb> playback[2];
  std::unique_ptr<IsoUrb> feedback;
  uint32_t value = 6u << 16;  // frames per microframe, 16.16
  uint32_t accumulator = 0;
  uint64_t sum = 0;
  uint64_t reads = 0;
  uint64_t errors = 0;
  bool stopping = false;
  int running = 0;

  // Lays out one millisecond of packets sized by the latest feedback.
  void Fill(IsoUrb& urb) {
    auto& iso = urb.iso();
    ULONG offset = 0;
    for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
      accumulator += value;
      iso.IsoPacket[k].Offset = offset;
      offset += (accumulator >> 16) * kFrameBytes;
      accumulator &= 0xFFFF;
    }
    iso.TransferBufferLength = offset;
  }
  void Submit(IsoUrb& urb, UrbCompletion completion) {
    if (stopping) {
      --running;
      return;
    }
    if (controller->SubmitUrb(urb.urb(), completion, this) != STATUS_PENDING) {
      ++errors;
      --running;
    }
  }
  static void OnPlayback(PURB urb, NTSTATUS status, void* context) {
    auto* s = static_cast<Stream*>(context);
    if (!NT_SUCCESS(status)) ++s->errors;
    IsoUrb& done = *s->playback[s->playback[0]->urb() == urb ? 0 : 1];
    s->Fill(done);
    s->Submit(done, OnPlayback);
  }
  static void OnFeedback(PURB, NTSTATUS status, void* context) {
    auto* s = static_cast<Stream*>(context);
    auto& iso = s->feedback->iso();
    if (!NT_SUCCESS(status)) ++s->errors;
    // Paces playback by the mean of the read's packets, as a driver decodes feedback.
    uint64_t readSum = 0;
    ULONG valid = 0;
    for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
      if (iso.IsoPacket[k].Length != 4) continue;
      uint32_t v = 0;
      std::memcpy(&v, s->feedback->buffer.data() + iso.IsoPacket[k].Offset, 4);
      readSum += v;
      ++valid;
    }
    if (valid != 0) s->value = static_cast<uint32_t>(readSum / valid);
    s->sum += readSum;
    s->reads += valid;
    iso.TransferBufferLength = static_cast<ULONG>(s->feedback->buffer.size());
    s->Submit(*s->feedback, OnFeedback);
  }
};

TEST_F(BusTest, FeedbackReadOverTheBusAveragesTheDeviceRateForAMinute) {
  PUSBD_INTERFACE_INFORMATION info = StartPlayback(3, kRate);
  ASSERT_EQ(info->NumberOfPipes, 2u);
  const USBD_PIPE_INFORMATION data = info->Pipes[0];
  const USBD_PIPE_INFORMATION feedback = info->Pipes[1];
  ASSERT_EQ(feedback.EndpointAddress & 0x80, 0x80);

  Stream s;
  s.controller = controller_.get();
  const ULONG pollTicks = 1u << (feedback.Interval - 1);
  for (auto& urb : s.playback) {
    urb = std::make_unique<IsoUrb>(data.PipeHandle, 8, 7 * kFrameBytes, false);
    s.Fill(*urb);
  }
  // Four milliseconds of feedback packets per read.
  s.feedback = std::make_unique<IsoUrb>(feedback.PipeHandle, 32 / pollTicks, 4, true);
  s.running = 3;
  KIRQL irql;
  KeRaiseIrql(DISPATCH_LEVEL, &irql);
  for (auto& urb : s.playback) s.Submit(*urb, Stream::OnPlayback);
  s.Submit(*s.feedback, Stream::OnFeedback);
  KeLowerIrql(irql);

  const uint64_t settle = 5 * 1000 * kMs;
  ASSERT_TRUE(kernel().RunFor(settle));
  s.sum = 0;
  s.reads = 0;
  ASSERT_TRUE(kernel().RunFor(60 * 1000 * kMs));
  s.stopping = true;
  ASSERT_TRUE(kernel().RunUntil([&] { return s.running == 0; }));

  EXPECT_EQ(s.errors, 0u);
  const auto& entry = *devices::FindCatalogueEntry(devices::kDefaultDeviceName);
  const double trueRate = kRate * (1 + entry.behaviour.crystalPpm * 1e-6);
  const double average = static_cast<double>(s.sum) / s.reads * kTicksPerSecond / 65536.0;
  EXPECT_NEAR(average, trueRate, 1.0);
  EXPECT_NEAR(static_cast<double>(s.reads), 60.0 * kTicksPerSecond / pollTicks, 8.0);
  const devices::PlaybackSink& sink = *device_->Sink(1);
  EXPECT_EQ(sink.Counters().underruns, 0u);
  EXPECT_EQ(sink.Counters().overruns, 0u);
}

}  // namespace
}  // namespace sim::usb::testing
