// A stand-in for the WaveRT miniport's stream side: it queues the chunks of its cyclic buffers
// through the adapter as the real stream does, writing the position signal into playback and
// keeping what capture delivered.
#pragma once

#include <cstring>
#include <vector>

#include "adapter_interfaces.h"
#include "miniport_stream_control.h"
#include "sim/devices/position_signal.h"

namespace tarnlink::engine::testing {

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
  STDMETHODIMP UnregisterFromDevice(PDEVICE_OBJECT) override { return STATUS_SUCCESS; }
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

}  // namespace tarnlink::engine::testing
