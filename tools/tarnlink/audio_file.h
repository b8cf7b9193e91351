// Audio files the stream commands play and write, through libsndfile. Samples travel as 32-bit
// words with the sample left-justified, the way libsndfile hands out integer samples, so any
// container width converts by a shift.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::tool {

struct AudioFile {
  uint32_t rate = 0;
  unsigned channels = 0;
  std::vector<int32_t> samples;  // interleaved, left-justified
  uint64_t Frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Any format libsndfile reads (WAV, FLAC, AIFF, ...); false with *error for the user.
bool ReadAudioFile(const std::string& path, AudioFile* file, std::string* error);

// Writes one vector of left-justified words per channel as WAV integer PCM in containers of
// containerBits (16, 24 or 32); the shortest channel sets the length.
bool WriteWav(const std::string& path, uint32_t rate,
              const std::vector<std::vector<uint32_t>>& channels, unsigned containerBits,
              std::string* error);

// A word of `containerBits` (its sample in the top bits) left-justified in 32 bits.
inline uint32_t LeftJustified(uint32_t word, unsigned containerBits) {
  return containerBits >= 32 ? word : word << (32 - containerBits);
}

}  // namespace tarnlink::tool
