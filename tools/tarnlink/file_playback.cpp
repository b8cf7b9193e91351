#include "file_playback.h"

#include <algorithm>
#include <cstring>

namespace tarnlink::tool {
namespace {

uint32_t TopBits(uint32_t word, unsigned bits) {
  return bits >= 32 ? word : word & ~((uint32_t{1} << (32 - bits)) - 1);
}

}  // namespace

void FileWriter::Fill(uint8_t* dst, ULONG frames, const sim::audioengine::PinFormat& format) {
  const unsigned width = format.bits / 8u;
  for (ULONG f = 0; f < frames; ++f, ++next_) {
    for (unsigned c = 0; c < format.channels; ++c) {
      uint32_t word = 0;
      if (next_ < file_.Frames() && c < file_.channels) {
        word = static_cast<uint32_t>(file_.samples[next_ * file_.channels + c]) >>
               (32 - format.bits);
      }
      std::memcpy(dst, &word, width);
      dst += width;
    }
  }
}

FileAlignment CompareWithFile(const std::vector<std::vector<uint32_t>>& received,
                              const AudioFile& file, unsigned keptBits, DirectionResult* result) {
  FileAlignment at;
  result->signalChecked = false;
  result->framesSent = file.Frames();
  const unsigned channels = std::min<unsigned>(file.channels, static_cast<unsigned>(received.size()));
  size_t frames = channels == 0 ? 0 : received[0].size();
  for (unsigned c = 0; c < channels; ++c) frames = std::min(frames, received[c].size());
  const auto heard = [&](uint64_t d, unsigned c) { return TopBits(received[c][d], keptBits); };
  const auto sent = [&](uint64_t f, unsigned c) {
    return TopBits(static_cast<uint32_t>(file.samples[f * file.channels + c]), keptBits);
  };
  const auto sound = [&](auto value, uint64_t frame) {
    for (unsigned c = 0; c < channels; ++c) {
      if (value(frame, c) != 0) return true;
    }
    return false;
  };
  while (at.firstReceived < frames && !sound(heard, at.firstReceived)) ++at.firstReceived;
  uint64_t firstSound = 0;
  while (firstSound < file.Frames() && !sound(sent, firstSound)) ++firstSound;
  // The file's frame that arrived first: the earliest from which a few frames match.
  constexpr uint64_t kProbe = 16;
  const auto matches = [&](uint64_t f, uint64_t d) {
    for (unsigned c = 0; c < channels; ++c) {
      if (heard(d, c) != sent(f, c)) return false;
    }
    return true;
  };
  at.firstFileFrame = firstSound;
  for (uint64_t f = firstSound; f < file.Frames() && at.firstReceived < frames; ++f) {
    uint64_t k = 0;
    while (k < kProbe && f + k < file.Frames() && at.firstReceived + k < frames &&
           matches(f + k, at.firstReceived + k))
      ++k;
    if (k == kProbe || f + k == file.Frames() || at.firstReceived + k == frames) {
      at.firstFileFrame = f;
      break;
    }
  }
  at.missedAtStart = at.firstFileFrame - firstSound;
  // What arrived after the last sound is the silence behind the file.
  size_t last = frames;
  while (last > at.firstReceived && !sound(heard, last - 1)) --last;
  result->framesReceived = last - at.firstReceived;
  result->bitExact = result->framesReceived > 0;
  for (uint64_t d = at.firstReceived; d < last; ++d) {
    const uint64_t f = at.firstFileFrame + (d - at.firstReceived);
    if (f >= file.Frames() || !matches(f, d)) {
      result->bitExact = false;
      result->firstMismatchFrame = f;
      break;
    }
  }
  return at;
}

}  // namespace tarnlink::tool
