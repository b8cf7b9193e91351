// Reading the device's descriptor bytes for the report: each field only within its descriptor's
// bLength, each descriptor only within the bytes it was found in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnlink::tool {

// The little-endian field of `size` bytes at `offset`; 0 when the descriptor is too short.
inline uint32_t DescriptorField(const uint8_t* descriptor, size_t offset, size_t size) {
  if (descriptor == nullptr || offset + size > descriptor[0]) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= uint32_t{descriptor[offset + i]} << (8 * i);
  return value;
}

// Calls visit(descriptor) for each descriptor wholly inside [begin, end) and stops at the first
// that is shorter than its header or runs past the end, or when visit returns false.
template <typename Visit>
void ForEachDescriptor(const uint8_t* begin, const uint8_t* end, Visit visit) {
  for (const uint8_t* at = begin; at + 2 <= end && at[0] >= 2 && at[0] <= end - at; at += at[0]) {
    if (!visit(at)) return;
  }
}

}  // namespace tarnlink::tool
