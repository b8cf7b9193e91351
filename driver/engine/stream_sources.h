// The users of the USB streams as the playback engines and capture feeds see them: a playback
// source the engine pulls frames from, and a capture sink a feed pushes frames into. The
// operating-system stream and the ASIO stream each provide one of both.
#pragma once

#include "driver_types.h"
#include "kernel_mode.h"

class CPlaybackEngine;

// The first slots of both: the format the user's side of the stream has.
struct IStreamFormat {
  virtual USHORT Kind() = 0;
  virtual USHORT FormatTag() = 0;
  virtual ULONG Bits() = 0;
  virtual ULONG Channels() = 0;
  virtual ULONG FrameBytes() = 0;
  virtual ULONG SampleRate() = 0;

 protected:
  ~IStreamFormat() = default;
};

struct IPlaybackSource : IStreamFormat {
  // Up to `frames` frames into dst (or dropped when dst is null); the frames delivered.
  virtual ULONG Read(PVOID dst, ULONG frames) = 0;
  // The user runs capture too, so its playback is clocked by capture completions.
  virtual BOOLEAN HasCapture() = 0;
  virtual BOOLEAN PlaybackStarted() = 0;
  virtual ULONG FramesAvailable() = 0;
  // The source's own clock, for users without a capture stream to pace them.
  virtual NTSTATUS StartClock() = 0;
  // One period of playback was taken from the source.
  virtual VOID Serviced() = 0;
  virtual VOID StopClock() = 0;
  virtual VOID AttachEngine(CPlaybackEngine* engine) = 0;
  virtual VOID DetachEngine() = 0;
  virtual VOID OutputReady() = 0;

 protected:
  ~IPlaybackSource() = default;
};

struct ICaptureSink : IStreamFormat {
  // Frames of the capture USB format; src null with 0 frames: a failed transfer.
  virtual VOID Write(PCVOID src, ULONG frames) = 0;
  // Before the first write: the USB capture format and the most frames one write carries.
  virtual NTSTATUS Prepare(const UsbFormat& usb, ULONG chunkFrames) = 0;
  virtual VOID Stop() = 0;

 protected:
  ~ICaptureSink() = default;
};
