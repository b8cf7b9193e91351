// The ASIO stream as the stream engine's users see it: a playback source the ASIO playback
// engine pulls from (the playback ring) and a capture sink the ASIO capture feed pushes into
// (the capture ring). Slots in the order of their interfaces.
#pragma once

#include "kernel_mode.h"
#include "stream_sources.h"

class CAsioStream;

// The format slots of both, from what the prepared stream stored for the direction.
template <typename Interface, ULONG kDirection>
class CAsioStreamFormat : public Interface {
 public:
  USHORT Kind() override;
  USHORT FormatTag() override;
  ULONG Bits() override;
  ULONG Channels() override;
  ULONG FrameBytes() override { return Bits() / 8 * Channels(); }
  ULONG SampleRate() override;

 protected:
  ~CAsioStreamFormat() = default;
  CAsioStream* m_Stream = nullptr;
};

class CAsioPlaybackSource final : public CAsioStreamFormat<IPlaybackSource, kDirectionPlayback> {
 public:
  VOID Initialize(CAsioStream* stream) { m_Stream = stream; }
  ULONG Read(PVOID dst, ULONG frames) override;
  BOOLEAN HasCapture() override;
  BOOLEAN PlaybackStarted() override;
  ULONG FramesAvailable() override;
  NTSTATUS StartClock() override { return STATUS_SUCCESS; }
  VOID Serviced() override;
  VOID StopClock() override {}
  VOID AttachEngine(CPlaybackEngine* engine) override { m_Engine = engine; }
  VOID DetachEngine() override { m_Engine = nullptr; }
  VOID OutputReady() override;

 private:
  CPlaybackEngine* m_Engine = nullptr;
};

class CAsioCaptureSink final : public CAsioStreamFormat<ICaptureSink, kDirectionCapture> {
 public:
  VOID Initialize(CAsioStream* stream) { m_Stream = stream; }
  VOID Write(PCVOID src, ULONG frames) override;
  // The feed hands frames of the USB capture format; the ring must hold frames of that size,
  // or a write would read past the transfer.
  NTSTATUS Prepare(const UsbFormat& usb, ULONG chunkFrames) override;
  VOID Stop() override {}
};
