#include "sim/devices/capture_source.h"

namespace sim::devices {

void CaptureSource::Start(const SourceFormat& format, const ClockTimeline& clock) {
  format_ = format;
  clock_ = clock;
  running_ = true;
  packets_ = 0;
  sent_ = 0;
  dropped_ = 0;
}

size_t CaptureSource::Produce(uint64_t nowNs, uint64_t intervalNs, std::span<uint8_t> packet) {
  if (!running_) return 0;
  const size_t width = format_.layout.subslotBytes;
  const size_t frameBytes = width * format_.channels;
  if (frameBytes == 0) return 0;
  const uint64_t stale = nowNs > intervalNs ? clock_.FramesAt(nowNs - intervalNs) : 0;
  const uint64_t keep = stale > format_.holdbackFrames ? stale - format_.holdbackFrames : 0;
  if (sent_ + dropped_ < keep) dropped_ = keep - sent_;
  uint64_t ready = clock_.FramesAt(nowNs);
  // Every other packet holds back a few complete frames for the next one.
  if (format_.holdbackFrames && (packets_++ & 1) == 0)
    ready = ready > format_.holdbackFrames ? ready - format_.holdbackFrames : 0;
  const uint64_t due = ready > sent_ + dropped_ ? ready - sent_ - dropped_ : 0;
  const uint64_t fits = packet.size() / frameBytes;
  const uint64_t frames = due < fits ? due : fits;
  // Frames that do not fit are lost, the oldest first, as a device FIFO overflows when the host
  // polls late; the receiver then sees the gap in the signal.
  dropped_ += due - frames;
  const uint64_t first = sent_ + dropped_;
  for (uint64_t f = 0; f < frames; ++f) {
    for (unsigned c = 0; c < format_.channels; ++c) {
      uint32_t word =
          format_.line != nullptr
              ? format_.line->Hear(LineTime(clock_.StartNs(), clock_.Rate(), first + f), c,
                                   format_.layout)
              : PositionSignal::Encode(first + f, c, format_.layout);
      for (size_t b = 0; b < width; ++b, word >>= 8)
        packet[f * frameBytes + c * width + b] = static_cast<uint8_t>(word);
    }
  }
  sent_ += frames;
  return static_cast<size_t>(frames * frameBytes);
}

}  // namespace sim::devices
