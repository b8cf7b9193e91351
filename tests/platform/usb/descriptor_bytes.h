// Configuration descriptors as raw bytes in pool memory, the way a driver holds its copy.
#pragma once

#include <cstring>
#include <vector>

#include "kernel_mode.h"
#include "usb/usbspec.h"

namespace tarnlink::usb::testing {

inline constexpr ULONG kTestTag = 0x54534554;  // "TEST"

// A pool copy of exactly bytes.size() bytes; the caller frees it with ExFreePoolWithTag.
inline PUSB_CONFIGURATION_DESCRIPTOR PoolCopy(const std::vector<UCHAR>& bytes) {
  void* p = ExAllocatePool2(POOL_FLAG_NON_PAGED, bytes.size(), kTestTag);
  std::memcpy(p, bytes.data(), bytes.size());
  return static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(p);
}

inline std::vector<UCHAR> Configuration(UCHAR interfaces, std::vector<UCHAR> rest) {
  const size_t total = 9 + rest.size();
  std::vector<UCHAR> bytes = {
      9,    2, static_cast<UCHAR>(total & 0xFF), static_cast<UCHAR>(total >> 8), interfaces, 1, 0,
      0x80, 50};
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  return bytes;
}

inline std::vector<UCHAR> Interface(UCHAR number, UCHAR alternate, UCHAR endpoints, UCHAR cls = 1,
                                    UCHAR subclass = 2) {
  return {9, 4, number, alternate, endpoints, cls, subclass, 0x20, 0};
}

inline std::vector<UCHAR> Endpoint(UCHAR address, UCHAR attributes, USHORT maxPacket,
                                   UCHAR interval) {
  return {7,
          5,
          address,
          attributes,
          static_cast<UCHAR>(maxPacket & 0xFF),
          static_cast<UCHAR>(maxPacket >> 8),
          interval};
}

inline std::vector<UCHAR> Join(std::initializer_list<std::vector<UCHAR>> parts) {
  std::vector<UCHAR> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace tarnlink::usb::testing
