// Frames of an audio clock over bus time. A device clock runs at its nominal rate times
// (1 + offset), the offset being the crystal's error in parts per billion; a clock locked to
// the bus has offset 0. Integer arithmetic keeps a simulated hour exact to the frame.
#pragma once

#include <cstdint>

namespace sim::devices {

class ClockTimeline {
 public:
  ClockTimeline() = default;
  ClockTimeline(uint32_t rate, int64_t offsetPpb, uint64_t startNs)
      : rate_(rate), offsetPpb_(offsetPpb), startNs_(startNs) {}

  uint32_t Rate() const { return rate_; }
  int64_t OffsetPpb() const { return offsetPpb_; }
  uint64_t StartNs() const { return startNs_; }
  // Frames completed between the start and `ns`.
  uint64_t FramesAt(uint64_t ns) const {
    if (ns <= startNs_) return 0;
    __extension__ typedef unsigned __int128 Wide;
    const Wide product =
        static_cast<Wide>(ns - startNs_) * rate_ * static_cast<uint64_t>(1000000000 + offsetPpb_);
    return static_cast<uint64_t>(product / (Wide{1000000000} * 1000000000));
  }
  // The true rate per (micro)frame in 16.16 fixed point.
  uint32_t PerTick16_16(uint32_t ticksPerSecond) const {
    __extension__ typedef unsigned __int128 Wide;
    const Wide product =
        static_cast<Wide>(rate_) * static_cast<uint64_t>(1000000000 + offsetPpb_) * 65536;
    return static_cast<uint32_t>(product / (Wide{1000000000} * ticksPerSecond));
  }

 private:
  uint32_t rate_ = 0;
  int64_t offsetPpb_ = 0;
  uint64_t startNs_ = 0;
};

}  // namespace sim::devices
