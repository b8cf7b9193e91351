// Little-endian byte assembly for descriptors and request answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::devices {

class ByteWriter {
 public:
  ByteWriter& U8(uint32_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  ByteWriter& U16(uint32_t v) { return U8(v).U8(v >> 8); }
  ByteWriter& U24(uint32_t v) { return U16(v).U8(v >> 16); }
  ByteWriter& U32(uint32_t v) { return U16(v).U16(v >> 16); }
  ByteWriter& Bytes(const std::vector<uint8_t>& b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  void PatchU8(size_t at, uint32_t v) { bytes_.at(at) = static_cast<uint8_t>(v); }
  void PatchU16(size_t at, uint32_t v) {
    PatchU8(at, v);
    PatchU8(at + 1, v >> 8);
  }
  size_t Size() const { return bytes_.size(); }
  const std::vector<uint8_t>& Get() const { return bytes_; }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

inline uint32_t ReadLe(const uint8_t* p, size_t n) {
  uint32_t v = 0;
  for (size_t i = n; i-- > 0;) v = v << 8 | p[i];
  return v;
}

}  // namespace sim::devices
