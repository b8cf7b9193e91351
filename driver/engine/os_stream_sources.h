// The operating-system stream as a playback source and a capture sink: they move audio between
// the USB transfers and the chunks of the WaveRT cyclic buffer that the miniport queues with the
// adapter, through the miniport's stream-control operations. On a device without capture the
// playback source runs a 1 ms timer of its own that keeps the miniport's stream position
// moving, as capture completions would otherwise.
#pragma once

#include "chunk_queues.h"
#include "driver_types.h"
#include "kernel_mode.h"
#include "miniport_stream_control.h"
#include "sample_converter.h"
#include "stream_sources.h"

// What the operating-system source and sink reach of the engine.
class IOsStreamHost {
 public:
  virtual const OsFormat& OsFormatOf(ULONG direction) const = 0;
  virtual CChunkQueues& Chunks() = 0;
  // The registered miniport, referenced; null without one.
  virtual PMINIPORTSTREAMCONTROL ReferenceMiniport() = 0;
  virtual BOOLEAN HasCaptureInterface() const = 0;

 protected:
  ~IOsStreamHost() = default;
};

// The format slots of both: PCM in the operating-system stream's format of the direction.
template <typename Interface, ULONG kDirection>
class COsStreamFormat : public Interface {
 public:
  USHORT Kind() override { return kStreamKindPcm; }
  USHORT FormatTag() override { return static_cast<USHORT>(FormatTag::Pcm); }
  ULONG Bits() override { return m_Host->OsFormatOf(kDirection).Bits; }
  ULONG Channels() override { return m_Host->OsFormatOf(kDirection).Channels; }
  ULONG FrameBytes() override { return m_Host->OsFormatOf(kDirection).FrameBytes; }
  ULONG SampleRate() override { return m_Host->OsFormatOf(kDirection).Rate; }

 protected:
  ~COsStreamFormat() = default;
  IOsStreamHost* m_Host = nullptr;
};

class COsPlaybackSource final : public COsStreamFormat<IPlaybackSource, kDirectionPlayback> {
 public:
  VOID Initialize(IOsStreamHost* host);
  ULONG Read(PVOID dst, ULONG frames) override;
  BOOLEAN HasCapture() override { return m_Host->HasCaptureInterface(); }
  BOOLEAN PlaybackStarted() override { return TRUE; }
  ULONG FramesAvailable() override { return 0; }
  NTSTATUS StartClock() override;
  VOID Serviced() override {}
  VOID StopClock() override;
  VOID AttachEngine(CPlaybackEngine*) override {}
  VOID DetachEngine() override {}
  VOID OutputReady() override {}

 private:
  static KDEFERRED_ROUTINE TimerTick;

  KTIMER m_Timer;
  KDPC m_TimerDpc;
  volatile LONG m_TimerRunning = 0;
};

class COsCaptureSink final : public COsStreamFormat<ICaptureSink, kDirectionCapture> {
 public:
  VOID Initialize(IOsStreamHost* host) { m_Host = host; }
  VOID Write(PCVOID src, ULONG frames) override;
  NTSTATUS Prepare(const UsbFormat& usb, ULONG chunkFrames) override;
  VOID Stop() override { m_Converter = {}; }

 private:
  SampleConverter m_Converter = {};
  ULONG m_UsbFrameBytes = 0;
};
