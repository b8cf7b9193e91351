// The position signal in a pin's format: what the audio engine writes into a render buffer and
// reads out of a capture buffer when it proves delivery sample by sample.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/audioengine/audio_engine.h"
#include "sim/devices/position_signal.h"

namespace sim::audioengine {

// Writes the signal from frame 0 on. The signal carries validBits significant bits per sample
// (the engine's own format: 16, 24 or 32 for PCM, 24 for float, whose mantissa holds 24), no
// more than the pin's container holds, left-justified in it.
class SignalWriter {
 public:
  explicit SignalWriter(unsigned validBits = 32) : validBits_(validBits) {}
  void Fill(uint8_t* dst, ULONG frames, const PinFormat& format);
  uint64_t Frames() const { return next_; }
  unsigned ValidBits() const { return validBits_; }

 private:
  unsigned validBits_;
  uint64_t next_ = 0;
};

// Keeps the samples a capture pin delivered, per channel, widened to 32-bit words as they sat
// in the pin's container.
class SignalReader {
 public:
  void Take(const uint8_t* src, ULONG frames, const PinFormat& format);
  const std::vector<uint32_t>& Samples(unsigned channel) const;
  uint64_t Frames() const { return samples_.empty() ? 0 : samples_[0].size(); }

 private:
  std::vector<std::vector<uint32_t>> samples_;
};

// How a pin's samples show the signal at the other end: in the receiver's container, with as
// many valid bits as the signal, the pin and the receiver all carry.
devices::SampleLayout SeenLayout(unsigned signalBits, const PinFormat& pin,
                                 devices::SampleLayout receiver);
// The way a position signal took to a capture pin: it left its sender in `sent` (the device's
// capture subslots, or the render pin's container when a cable loops playback back), kept only
// its top `keptBits` on the way, and sits in the pin's container of pinBits.
struct CapturePath {
  devices::SampleLayout sent;
  unsigned keptBits = 32;
  unsigned pinBits = 32;
  // The word the pin holds for a frame of the signal.
  uint32_t Expected(uint64_t frame, unsigned channel) const;
};
// What a capture pin received, checked frame by frame against the path's words from wherever
// the samples start, however few bits of the code survived; *firstFrame is the signal's frame
// the first sample carried.
devices::Continuity CheckCapturedSignal(const std::vector<uint32_t>& words, unsigned channel,
                                        const CapturePath& path, uint64_t* firstFrame = nullptr);

}  // namespace sim::audioengine
