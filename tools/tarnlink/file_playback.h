// Playing an audio file through the audio engine, and checking what reached the other end
// against the file: every sample that arrived must be the file's sample cut to the bits the way
// kept.
#pragma once

#include <cstdint>
#include <vector>

#include "audio_file.h"
#include "sim/audioengine/audio_engine.h"
#include "stream_session.h"

namespace tarnlink::tool {

// Fills render buffers with the file's samples in the pin's container, then with silence.
class FileWriter {
 public:
  explicit FileWriter(const AudioFile& file) : file_(file) {}
  void Fill(uint8_t* dst, ULONG frames, const sim::audioengine::PinFormat& format);
  // The file's frames handed to the engine so far.
  uint64_t Frames() const { return next_ < file_.Frames() ? next_ : file_.Frames(); }

 private:
  const AudioFile& file_;
  uint64_t next_ = 0;
};

// Where the file's sound begins in what arrived: the first received frame with sound and the
// file's frame it carries; the frames of the file's sound before that one never arrived.
struct FileAlignment {
  uint64_t firstReceived = 0;
  uint64_t firstFileFrame = 0;
  uint64_t missedAtStart = 0;
};

// Compares what arrived (one vector of left-justified words per channel) with the file, both
// cut to their top keptBits, from the first received frame with sound, found in the file; fills
// the counts, bit exactness and first mismatch (a file frame) of *result. Gaps and repeats are
// not told apart in arbitrary audio: a file run reports neither.
FileAlignment CompareWithFile(const std::vector<std::vector<uint32_t>>& received,
                              const AudioFile& file, unsigned keptBits, DirectionResult* result);

}  // namespace tarnlink::tool
