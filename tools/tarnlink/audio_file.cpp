#include "audio_file.h"

#include <sndfile.h>

#include <algorithm>

namespace tarnlink::tool {

bool ReadAudioFile(const std::string& path, AudioFile* file, std::string* error) {
  SF_INFO info = {};
  SNDFILE* handle = sf_open(path.c_str(), SFM_READ, &info);
  if (handle == nullptr) {
    *error = path + ": " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
    sf_close(handle);
    *error = path + ": no audio in it";
    return false;
  }
  file->rate = static_cast<uint32_t>(info.samplerate);
  file->channels = static_cast<unsigned>(info.channels);
  file->samples.assign(static_cast<size_t>(info.frames) * file->channels, 0);
  const sf_count_t read = sf_readf_int(handle, file->samples.data(), info.frames);
  sf_close(handle);
  file->samples.resize(static_cast<size_t>(std::max<sf_count_t>(read, 0)) * file->channels);
  return true;
}

bool WriteWav(const std::string& path, uint32_t rate,
              const std::vector<std::vector<uint32_t>>& channels, unsigned containerBits,
              std::string* error) {
  SF_INFO info = {};
  info.samplerate = static_cast<int>(rate);
  info.channels = static_cast<int>(channels.size());
  info.format = SF_FORMAT_WAV | (containerBits <= 16   ? SF_FORMAT_PCM_16
                                 : containerBits <= 24 ? SF_FORMAT_PCM_24
                                                       : SF_FORMAT_PCM_32);
  if (channels.empty()) {
    *error = path + ": nothing to write";
    return false;
  }
  SNDFILE* handle = sf_open(path.c_str(), SFM_WRITE, &info);
  if (handle == nullptr) {
    *error = path + ": " + sf_strerror(nullptr);
    return false;
  }
  size_t frames = channels[0].size();
  for (const auto& c : channels) frames = std::min(frames, c.size());
  std::vector<int32_t> block;
  constexpr size_t kBlock = 4096;
  bool ok = true;
  for (size_t at = 0; at < frames && ok; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    block.assign(n * channels.size(), 0);
    for (size_t f = 0; f < n; ++f) {
      for (size_t c = 0; c < channels.size(); ++c)
        block[f * channels.size() + c] = static_cast<int32_t>(channels[c][at + f]);
    }
    ok = sf_writef_int(handle, block.data(), static_cast<sf_count_t>(n)) ==
         static_cast<sf_count_t>(n);
  }
  if (!ok) *error = path + ": " + sf_strerror(handle);
  sf_close(handle);
  return ok;
}

}  // namespace tarnlink::tool
