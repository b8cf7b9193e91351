// The receiving end of an isochronous OUT stream: a FIFO that the device's converter drains at
// the device clock's true rate, the explicit feedback value that tells the host that rate, a
// position-signal check of every channel as the samples arrive, and, when asked for, a record
// of every sample received.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "sim/devices/clock_timeline.h"
#include "sim/devices/loopback_line.h"
#include "sim/devices/position_signal.h"

namespace sim::devices {

struct SinkFormat {
  uint8_t channels = 2;
  SampleLayout layout;
  uint32_t ticksPerSecond = 8000;
  uint32_t fifoFrames = 0;    // capacity; excess frames are lost (overrun)
  uint32_t targetFrames = 0;  // level at which the converter starts, and feedback aims for
  bool keepSamples = false;  // a minute of audio is a lot to keep: only tests that look ask
  LoopbackLine* line = nullptr;  // where the converter's output goes, when a cable is plugged
};

struct SinkCounters {
  uint64_t framesReceived = 0;
  uint64_t framesPlayed = 0;
  uint64_t underruns = 0;  // times the converter found the FIFO short
  uint64_t framesMissing = 0;
  uint64_t overruns = 0;  // packets that did not fit
  uint64_t framesLost = 0;
  uint64_t dsdIdleWords = 0;  // 0x96969696 words received in DSD mode
};

class PlaybackSink {
 public:
  void Start(const SinkFormat& format, const ClockTimeline& clock, bool dsd);
  void Stop();
  bool Running() const { return running_; }

  void Receive(std::span<const uint8_t> frames, uint64_t nowNs);
  // Drains what the converter has played by `nowNs`.
  void Advance(uint64_t nowNs);
  // Frames per (micro)frame in 16.16, corrected toward the target FIFO level.
  uint32_t Feedback(uint64_t nowNs);

  uint32_t Level() const { return level_; }
  // How the current stream's samples sit in their subslots.
  SampleLayout Layout() const { return format_.layout; }
  const SinkCounters& Counters() const { return counters_; }
  // The received samples of a channel; empty unless the format keeps them.
  const std::vector<uint32_t>& Samples(unsigned channel) const;
  // What the received samples of a channel say read as a position signal.
  Continuity Check(unsigned channel) const;
  const ClockTimeline& Clock() const { return clock_; }

 private:
  // The converter plays the FIFO's oldest frames onto the line.
  void Sound(uint64_t frames);
  // Frames the converter has played or found missing since it started on this stream: its
  // clock starts again with each stream, while the counters go on.
  uint64_t StreamFrames() const {
    return counters_.framesPlayed + counters_.framesMissing - streamStartFrame_;
  }

  SinkFormat format_;
  ClockTimeline clock_;
  bool running_ = false;
  bool playing_ = false;
  bool dsd_ = false;
  bool short_ = false;
  uint64_t streamStartFrame_ = 0;
  uint32_t level_ = 0;
  SinkCounters counters_;
  std::vector<std::vector<uint32_t>> samples_;
  std::vector<ContinuityChecker> checkers_;
  std::deque<uint32_t> fifo_;  // the FIFO's words, kept only for a line to play them
};

}  // namespace sim::devices
