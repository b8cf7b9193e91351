// The operating-system stream through the engine: a stand-in for the WaveRT miniport queues
// the chunks of its cyclic buffers through the adapter, as the real stream does, and the
// engine's own source and sink move the audio, converting between the stream's format and the
// device's.
#include <cstring>
#include <vector>

#include "stream_fixture.h"

namespace tarnlink::engine::testing {
namespace {

// A miniport whose playback buffer is written with the position signal just before the engine
// asks for it, and whose capture buffer is read back as soon as the engine reports it filled.
class FakeMiniport final : public IMiniportStreamControl {
 public:
  FakeMiniport(IUsbAudioAdapter* adapter, sim::devices::SampleLayout playbackLayout,
               ULONG playbackChannels, ULONG captureFrameBytes)
      : adapter_(adapter), layout_(playbackLayout), channels_(playbackChannels),
        captureFrameBytes_(captureFrameBytes) {}

  STDMETHODIMP QueryInterface(REFIID, PVOID*) override { return STATUS_INVALID_PARAMETER; }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override { return --references_; }
  STDMETHODIMP GetDescription(PPCFILTER_DESCRIPTOR*) override { return STATUS_NOT_IMPLEMENTED; }
  STDMETHODIMP DataRangeIntersection(ULONG, PKSDATARANGE, PKSDATARANGE, ULONG, PVOID,
                                     PULONG) override {
    return STATUS_NOT_IMPLEMENTED;
  }
  STDMETHODIMP Init(PUNKNOWN, PRESOURCELIST, PPORTWAVERT) override { return STATUS_NOT_IMPLEMENTED; }
  STDMETHODIMP NewStream(PMINIPORTWAVERTSTREAM*, PPORTWAVERTSTREAM, ULONG, BOOLEAN,
                         PKSDATAFORMAT) override {
    return STATUS_NOT_IMPLEMENTED;
  }
  STDMETHODIMP GetDeviceDescription(PDEVICE_DESCRIPTION) override { return STATUS_NOT_IMPLEMENTED; }

  STDMETHODIMP_(VOID) FillSilence(BOOLEAN, PVOID buffer, ULONG bytes) override {
    std::memset(buffer, 0, bytes);
  }
  STDMETHODIMP_(VOID) AdvancePosition(BOOLEAN capture, ULONG bytes) override {
    if (!capture) return;
    // The engine filled these bytes of the capture buffer; the client reads them at once.
    for (ULONG i = 0; i < bytes; ++i) {
      recorded_.push_back(capture_[captureRead_]);
      captureRead_ = (captureRead_ + 1) % capture_.size();
    }
  }
  STDMETHODIMP_(BOOLEAN) BeginTransfer(BOOLEAN) override { return TRUE; }
  STDMETHODIMP_(VOID) EndTransfer(BOOLEAN) override {}
  STDMETHODIMP_(VOID) DetachAll() override {}
  STDMETHODIMP_(VOID) TransferData(BOOLEAN capture, ULONG bytes) override {
    std::vector<uint8_t>& buffer = capture ? capture_ : playback_;
    size_t& offset = capture ? captureQueued_ : playbackQueued_;
    while (bytes != 0) {
      const ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes, buffer.size() - offset));
      if (!capture) WriteSignal(offset, piece);
      if (capture) {
        adapter_->QueueCaptureChunk(buffer.data() + offset, piece);
      } else {
        adapter_->QueuePlaybackChunk(buffer.data() + offset, piece);
      }
      offset = (offset + piece) % buffer.size();
      bytes -= piece;
    }
  }
  STDMETHODIMP_(VOID) UnregisterFromDevice() override {}
  STDMETHODIMP GetStreamPosition(BOOLEAN, PKSAUDIO_POSITION) override {
    ++positionCalls;
    return STATUS_SUCCESS;
  }

  // Captured samples of one channel, 32-bit each.
  std::vector<uint32_t> CapturedChannel(unsigned channel) const {
    std::vector<uint32_t> words;
    const size_t frames = recorded_.size() / captureFrameBytes_;
    for (size_t f = 0; f < frames; ++f) {
      uint32_t word = 0;
      std::memcpy(&word, recorded_.data() + f * captureFrameBytes_ + channel * 4, 4);
      words.push_back(word);
    }
    return words;
  }

  uint64_t positionCalls = 0;

 private:
  void WriteSignal(size_t offset, ULONG bytes) {
    for (ULONG i = 0; i < bytes; i += layout_.subslotBytes) {
      const uint32_t word = sim::devices::PositionSignal::Encode(
          written_ / channels_, static_cast<unsigned>(written_ % channels_), layout_);
      std::memcpy(playback_.data() + offset + i, &word, layout_.subslotBytes);
      ++written_;
    }
  }

  IUsbAudioAdapter* adapter_;
  sim::devices::SampleLayout layout_;
  ULONG channels_;
  ULONG captureFrameBytes_;
  ULONG references_ = 1;
  std::vector<uint8_t> playback_ = std::vector<uint8_t>(4096 * 4);
  std::vector<uint8_t> capture_ = std::vector<uint8_t>(4096 * 8);
  size_t playbackQueued_ = 0;
  size_t captureQueued_ = 0;
  size_t captureRead_ = 0;
  uint64_t written_ = 0;
  std::vector<uint8_t> recorded_;
};

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
