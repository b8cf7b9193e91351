#include "descriptor_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace tarnlink::tool {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Failure(const std::string& path, const char* what) {
  return path + ": " + what;
}

}  // namespace

bool ReadDescriptorFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *error = Failure(path, "is a directory, not a descriptors file");
    return false;
  }
  // Read to the end rather than trusting the size: sysfs files report one that is not theirs.
  File file(std::fopen(path.c_str(), "rb"));
  if (file == nullptr) {
    *error = Failure(path, std::strerror(errno));
    return false;
  }
  uint8_t chunk[4096];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof(chunk), file.get());
    if (bytes->size() + got > kMaxDescriptorFileBytes) {
      *error = Failure(path, "is too large for a descriptors file");
      return false;
    }
    bytes->insert(bytes->end(), chunk, chunk + got);
    if (got < sizeof(chunk)) break;
  }
  if (std::ferror(file.get())) {
    *error = Failure(path, std::strerror(errno));
    return false;
  }
  return true;
}

bool WriteDescriptorFile(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string* error) {
  File file(std::fopen(path.c_str(), "wb"));
  const bool written = file != nullptr &&
                       std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                       std::fflush(file.get()) == 0;
  if (!written) *error = Failure(path, std::strerror(errno));
  return written;
}

}  // namespace tarnlink::tool
