// A cable from the device's output back to its input: what the converter plays is heard at the
// input after the device's own delay, as a duplex measurement of round-trip latency needs. Time
// is counted in frames of the nominal rate since bus time 0, so the converter and the input
// agree on when a frame sounds however each stream started.
#pragma once

#include <cstdint>
#include <deque>

#include "sim/devices/position_signal.h"

namespace sim::devices {

class LoopbackLine {
 public:
  explicit LoopbackLine(uint32_t delayFrames) : delay_(delayFrames) {}

  // The converter played one frame at `time` (a frame count as above); words as received, in
  // the playback subslots. Frames that follow a gap leave silence in between.
  void Play(uint64_t time, const uint32_t* words, unsigned channels, SampleLayout layout);
  // What the input hears on `channel` at `time`, in its own subslots and resolution: the played
  // sample of `delay` frames earlier, or silence. Times are asked for in increasing order.
  uint32_t Hear(uint64_t time, unsigned channel, SampleLayout layout);

  uint32_t DelayFrames() const { return delay_; }

  static constexpr unsigned kMaxChannels = 32;

 private:
  // A line nobody listens to keeps no more than this.
  static constexpr size_t kMaxFrames = size_t{1} << 20;

  uint32_t delay_;
  unsigned channels_ = 0;
  uint64_t first_ = 0;            // time of words_'s first frame
  std::deque<uint32_t> words_;    // channels_ words a frame, each left-justified in 32 bits
};

// The time of a clock's frame k, for a clock that started at `startNs` at `rate`.
uint64_t LineTime(uint64_t startNs, uint32_t rate, uint64_t frame);

}  // namespace sim::devices
