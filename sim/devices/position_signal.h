// A signal in which every sample names its own frame and channel, so a receiver can prove
// bit-exact, gap-free delivery. A sample holds ((frame + 1) << 5 | channel) in its valid bits
// (left-justified in the container as USB audio carries them); frame counting starts at 0, the
// +1 keeps the first frame distinct from silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::devices {

struct SampleLayout {
  uint8_t subslotBytes = 4;
  uint8_t bitResolution = 32;
};

class PositionSignal {
 public:
  static constexpr unsigned kChannelBits = 5;

  static uint32_t Encode(uint64_t frame, unsigned channel, SampleLayout layout);
  // The frame index modulo the code's range, or nothing useful for channel mismatches.
  static uint64_t DecodeFrame(uint32_t word, SampleLayout layout);
  static unsigned DecodeChannel(uint32_t word, SampleLayout layout);
  // How many distinct frames the code tells apart before it wraps.
  static uint64_t FrameRange(SampleLayout layout);
};

// What a receiver saw of a position signal on one channel.
struct Continuity {
  uint64_t frames = 0;          // samples examined after leading silence
  uint64_t leadingSilence = 0;  // zero samples before the signal began
  uint64_t gaps = 0;            // places where frames were skipped
  uint64_t framesMissing = 0;   // frames skipped in total
  uint64_t repeats = 0;         // places where the signal went back or stood still
  uint64_t wrongChannel = 0;    // samples carrying another channel's code
  int64_t firstBreak = -1;      // index of the first sample that broke the sequence
  uint64_t firstFrame = 0;      // the frame the first sample after leading silence carried

  bool Clean() const { return gaps == 0 && repeats == 0 && wrongChannel == 0; }
};

// Checks one channel's samples as they arrive, so that a long run need not keep them.
class ContinuityChecker {
 public:
  ContinuityChecker(unsigned channel, SampleLayout layout);
  void Add(uint32_t word);
  const Continuity& Result() const { return result_; }
  // Past the leading silence.
  bool Started() const { return started_; }

 private:
  unsigned channel_;
  SampleLayout layout_;
  uint64_t range_;
  uint64_t index_ = 0;  // of the next sample
  uint64_t previous_ = 0;
  bool started_ = false;  // past the leading silence
  bool havePrevious_ = false;
  Continuity result_;
};

Continuity CheckContinuity(const std::vector<uint32_t>& words, unsigned channel,
                           SampleLayout layout);

}  // namespace sim::devices
