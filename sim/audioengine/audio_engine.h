// The operating system's audio engine as a client of the wave filter: it finds the filter's
// streaming pins, intersects its wished format with their ranges, creates a pin, allocates a
// cyclic buffer of two periods with a notification at each half, registers its event, steps the
// pin to RUN and then moves audio in event-driven mode: each notification frees the half the
// device has just finished (render) or hands over the half it has just filled (capture).
//
// Every call runs on a machine thread; each stream moves its audio on a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/host_kernel.h"
#include "kernel_mode.h"
#include "sim/audioengine/endpoint_controls.h"

namespace sim::audioengine {

// What the engine asks of a pin: the client range it intersects with.
struct WishedFormat {
  ULONG rate = 48000;
  ULONG channels = 2;
  ULONG bits = 24;
};

// The pin's format as the filter proposed it.
struct PinFormat {
  ULONG rate = 0;
  USHORT channels = 0;
  USHORT bits = 0;  // container bits per sample
  USHORT blockAlign = 0;
  bool ieeeFloat = false;
};

// Render: writes frames into dst in the pin's format. Capture: takes frames from src.
using FrameFill = std::function<void(uint8_t* dst, ULONG frames, const PinFormat& format)>;
using FrameTake = std::function<void(const uint8_t* src, ULONG frames, const PinFormat& format)>;

struct StreamCounters {
  uint64_t framesMoved = 0;
  uint64_t notifications = 0;
  uint64_t glitches = 0;  // a half found in use, or no notification within two periods
  uint64_t failedRequests = 0;
};

class EngineStream {
 public:
  ~EngineStream();
  EngineStream(const EngineStream&) = delete;
  EngineStream& operator=(const EngineStream&) = delete;

  // RUN, after the whole buffer of a render stream has been filled; starts the stream's thread.
  NTSTATUS Start();
  NTSTATUS Pause();
  NTSTATUS Resume();
  // Stops the thread, steps the pin down and closes it.
  void Close();

  bool Capture() const { return capture_; }
  const PinFormat& Format() const { return format_; }
  ULONG PeriodFrames() const { return periodFrames_; }
  StreamCounters Counters() const;
  HANDLE PinHandle() const { return pin_; }
  // Interrupt time (100 ns units) at which the pin entered RUN from Start; its position counts
  // from there.
  ULONGLONG RunSince() const { return runSince_; }

 private:
  friend class AudioEngine;
  EngineStream(tarnlink::kernel::HostKernel& kernel, bool capture) : kernel_(kernel), capture_(capture) {}
  NTSTATUS Prepare(HANDLE filter, ULONG pinId, const WishedFormat& wished, ULONG periodMs);
  void Run();
  void MoveHalf(ULONG half);

  tarnlink::kernel::HostKernel& kernel_;
  bool capture_;
  HANDLE pin_ = nullptr;
  HANDLE eventHandle_ = nullptr;
  PKEVENT notification_ = nullptr;
  KEVENT stop_ = {};
  PKTHREAD thread_ = nullptr;
  PinFormat format_;
  uint8_t* buffer_ = nullptr;
  ULONG bufferBytes_ = 0;
  ULONG periodFrames_ = 0;
  ULONG lastHalf_ = 1;  // render fills half 0 then 1 before it starts
  ULONGLONG runSince_ = 0;
  FrameFill fill_;
  FrameTake take_;
  std::atomic<bool> stopping_{false};
  StreamCounters counters_;
};

class AudioEngine {
 public:
  explicit AudioEngine(tarnlink::kernel::HostKernel& kernel) : kernel_(kernel) {}
  ~AudioEngine();

  // Opens the filter behind a KSCATEGORY_AUDIO interface, finds its streaming pins and reads
  // its controls.
  NTSTATUS Open(const std::u16string& interfacePath);
  void Close();
  bool HasCapturePin() const { return capturePin_ != kNoPin; }
  bool HasRenderPin() const { return renderPin_ != kNoPin; }
  HANDLE Filter() const { return filter_; }
  // What the engine read of the filter's controls when it opened it.
  const EndpointControls& Controls() const { return controls_; }
  // Sets a volume (16.16 dB) or mute of a node's channel and reads the node back into
  // Controls().
  NTSTATUS SetNodeValue(ULONG node, LONG channel, LONG value);

  // A stream of periodMs periods in the format the filter proposes for the wish; STATUS_NO_MATCH
  // when it proposes none.
  NTSTATUS OpenRender(const WishedFormat& wished, ULONG periodMs, FrameFill fill,
                      std::unique_ptr<EngineStream>* stream) {
    return OpenStream(false, wished, periodMs, std::move(fill), {}, stream);
  }
  NTSTATUS OpenCapture(const WishedFormat& wished, ULONG periodMs, FrameTake take,
                       std::unique_ptr<EngineStream>* stream) {
    return OpenStream(true, wished, periodMs, {}, std::move(take), stream);
  }

 private:
  NTSTATUS OpenStream(bool capture, const WishedFormat& wished, ULONG periodMs, FrameFill fill,
                      FrameTake take, std::unique_ptr<EngineStream>* stream);

  static constexpr ULONG kNoPin = 0xFFFFFFFF;
  tarnlink::kernel::HostKernel& kernel_;
  HANDLE filter_ = nullptr;
  ULONG renderPin_ = kNoPin;
  ULONG capturePin_ = kNoPin;
  EndpointControls controls_;
};

}  // namespace sim::audioengine
