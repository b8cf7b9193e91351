#include "sim/devices/playback_sink.h"

#include "sim/devices/byte_writer.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {

void PlaybackSink::Start(const SinkFormat& format, const ClockTimeline& clock, bool dsd) {
  format_ = format;
  clock_ = clock;
  dsd_ = dsd;
  running_ = true;
  playing_ = false;
  short_ = false;
  level_ = 0;
  fifo_.clear();
  samples_.assign(format.channels, {});
  checkers_.clear();
  for (unsigned c = 0; c < format.channels; ++c) checkers_.emplace_back(c, format.layout);
}

void PlaybackSink::Stop() {
  running_ = false;
  playing_ = false;
  level_ = 0;
  fifo_.clear();
}

void PlaybackSink::Receive(std::span<const uint8_t> bytes, uint64_t nowNs) {
  if (!running_) return;
  Advance(nowNs);
  const size_t width = format_.layout.subslotBytes;
  const size_t frameBytes = width * format_.channels;
  if (frameBytes == 0) return;
  const uint32_t frames = static_cast<uint32_t>(bytes.size() / frameBytes);
  counters_.framesReceived += frames;
  const uint32_t room = format_.fifoFrames > level_ ? format_.fifoFrames - level_ : 0;
  for (uint32_t f = 0; f < frames; ++f) {
    for (unsigned c = 0; c < format_.channels; ++c) {
      const uint32_t word = ReadLe(bytes.data() + f * frameBytes + c * width, width);
      const bool idle = dsd_ && word == 0x96969696u;
      if (idle) ++counters_.dsdIdleWords;
      // A DSD stream idles before the signal as a PCM stream is silent.
      checkers_[c].Add(idle && !checkers_[c].Started() ? 0 : word);
      if (format_.keepSamples) samples_[c].push_back(word);
      if (format_.line != nullptr && f < room) fifo_.push_back(word);
    }
  }
  if (frames > room) {
    ++counters_.overruns;
    counters_.framesLost += frames - room;
  }
  level_ += frames < room ? frames : room;
  if (!playing_ && level_ >= format_.targetFrames) {
    // The converter starts once the FIFO holds its target; from here the device clock rules.
    playing_ = true;
    clock_ = ClockTimeline(clock_.Rate(), clock_.OffsetPpb(), nowNs);
    streamStartFrame_ = counters_.framesPlayed + counters_.framesMissing;
  }
}

void PlaybackSink::Advance(uint64_t nowNs) {
  if (!playing_) return;
  const uint64_t due = clock_.FramesAt(nowNs) - StreamFrames();
  if (due == 0) return;
  Sound(due < level_ ? due : level_);
  if (due > level_) {
    counters_.framesMissing += due - level_;
    counters_.framesPlayed += level_;
    level_ = 0;
    if (!short_) ++counters_.underruns;
    short_ = true;
    return;
  }
  level_ -= static_cast<uint32_t>(due);
  counters_.framesPlayed += due;
  short_ = false;
}

void PlaybackSink::Sound(uint64_t frames) {
  if (format_.line == nullptr) return;
  const uint64_t first = StreamFrames();
  for (uint64_t f = 0; f < frames && fifo_.size() >= format_.channels; ++f) {
    uint32_t words[LoopbackLine::kMaxChannels] = {};
    for (unsigned c = 0; c < format_.channels; ++c) {
      if (c < LoopbackLine::kMaxChannels) words[c] = fifo_.front();
      fifo_.pop_front();
    }
    format_.line->Play(LineTime(clock_.StartNs(), clock_.Rate(), first + f), words,
                       format_.channels, format_.layout);
  }
}

uint32_t PlaybackSink::Feedback(uint64_t nowNs) {
  Advance(nowNs);
  const int64_t nominal = clock_.PerTick16_16(format_.ticksPerSecond);
  // Proportional correction: a level error of E frames is worked off over about a quarter
  // second, and never moves the value by more than 1/16 of the nominal rate.
  const int64_t error = static_cast<int64_t>(format_.targetFrames) - level_;
  const int64_t horizon = format_.ticksPerSecond / 4;
  int64_t correction = error * 65536 / (horizon ? horizon : 1);
  const int64_t limit = nominal / 16;
  if (correction > limit) correction = limit;
  if (correction < -limit) correction = -limit;
  return static_cast<uint32_t>(nominal + correction);
}

Continuity PlaybackSink::Check(unsigned channel) const {
  return channel < checkers_.size() ? checkers_[channel].Result() : Continuity{};
}

const std::vector<uint32_t>& PlaybackSink::Samples(unsigned channel) const {
  static const std::vector<uint32_t> kNone;
  return channel < samples_.size() ? samples_[channel] : kNone;
}

}  // namespace sim::devices
