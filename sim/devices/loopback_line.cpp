#include "sim/devices/loopback_line.h"

namespace sim::devices {

namespace {

// Only the bits a converter resolves sound; the rest of its subslot is not heard.
uint32_t Resolved(uint32_t leftJustified, SampleLayout layout) {
  const unsigned width = layout.subslotBytes * 8u;
  const unsigned bits = layout.bitResolution < width ? layout.bitResolution : width;
  return bits >= 32 ? leftJustified : leftJustified & ~((uint32_t{1} << (32 - bits)) - 1);
}

uint32_t LeftJustify(uint32_t word, SampleLayout layout) {
  const unsigned width = layout.subslotBytes * 8u;
  return Resolved(width >= 32 ? word : word << (32 - width), layout);
}

}  // namespace

uint64_t LineTime(uint64_t startNs, uint32_t rate, uint64_t frame) {
  __extension__ typedef unsigned __int128 Wide;
  return static_cast<uint64_t>(static_cast<Wide>(startNs) * rate / 1000000000u) + frame;
}

void LoopbackLine::Play(uint64_t time, const uint32_t* words, unsigned channels,
                        SampleLayout layout) {
  if (channels > kMaxChannels) channels = kMaxChannels;
  if (channels != channels_ || time < first_ + words_.size() / (channels_ ? channels_ : 1)) {
    // A new stream shape, or time went back (a restarted stream): start the line afresh.
    words_.clear();
    channels_ = channels;
    first_ = time;
  }
  if (channels_ == 0) return;
  // Silence for frames the converter did not play.
  while (first_ + words_.size() / channels_ < time) words_.insert(words_.end(), channels_, 0u);
  for (unsigned c = 0; c < channels_; ++c) words_.push_back(LeftJustify(words[c], layout));
  while (words_.size() > kMaxFrames * channels_) {
    words_.erase(words_.begin(), words_.begin() + channels_);
    ++first_;
  }
}

uint32_t LoopbackLine::Hear(uint64_t time, unsigned channel, SampleLayout layout) {
  if (channels_ == 0 || time < delay_) return 0;
  const uint64_t played = time - delay_;
  // What was heard is not needed again.
  while (first_ < played && !words_.empty()) {
    words_.erase(words_.begin(), words_.begin() + channels_);
    ++first_;
  }
  if (played < first_ || channel >= channels_) return 0;
  const uint64_t index = (played - first_) * channels_ + channel;
  if (index >= words_.size()) return 0;
  const unsigned width = layout.subslotBytes * 8u;
  const uint32_t word = Resolved(words_[index], layout);
  return width >= 32 ? word : word >> (32 - width);
}

}  // namespace sim::devices
