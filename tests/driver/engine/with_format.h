// The format slots of a test or benchmark source or sink, answered from one record.
#pragma once

#include "driver_types.h"
#include "stream_sources.h"

namespace tarnlink::engine::testing {

// The format slots of a test source or sink, answered from one record.
template <typename Interface>
class WithFormat : public Interface {
 public:
  USHORT Kind() override { return kStreamKindPcm; }
  USHORT FormatTag() override { return format_.FormatTag; }
  ULONG Bits() override { return format_.Bits; }
  ULONG Channels() override { return format_.Channels; }
  ULONG FrameBytes() override { return format_.FrameBytes; }
  ULONG SampleRate() override { return format_.Rate; }

 protected:
  ~WithFormat() = default;  // never deleted through the base
  UsbFormat format_ = {};
};

// A source that only reads: no clock of its own, no engine to tell, always started, never
// short of frames. hasCapture: its user records too, so the engine is clocked by capture.
class PlainSource : public WithFormat<IPlaybackSource> {
 public:
  PlainSource(const UsbFormat& format, bool hasCapture) : hasCapture_(hasCapture) {
    format_ = format;
  }
  BOOLEAN HasCapture() override { return hasCapture_; }
  BOOLEAN PlaybackStarted() override { return TRUE; }
  ULONG FramesAvailable() override { return 1u << 20; }
  NTSTATUS StartClock() override { return STATUS_SUCCESS; }
  VOID Serviced() override {}
  VOID StopClock() override {}
  VOID AttachEngine(CPlaybackEngine*) override {}
  VOID DetachEngine() override {}
  VOID OutputReady() override {}

 protected:
  ~PlainSource() = default;

 private:
  bool hasCapture_;
};

}  // namespace tarnlink::engine::testing
