// Little-endian fields of descriptors, class request data and packets. Every multi-byte number
// the device sends or receives is little-endian whatever the host's order, so it is assembled
// byte by byte.
#pragma once

#include "kernel_mode.h"

// The low `count` bytes (1 to 4) at `at` as an unsigned number.
inline ULONG ReadLittleEndian(const UCHAR* at, ULONG count) {
  ULONG value = 0;
  for (ULONG i = count; i-- > 0;) value = (value << 8) | at[i];
  return value;
}

inline USHORT ReadLe16(const UCHAR* at) {
  return static_cast<USHORT>(ReadLittleEndian(at, 2));
}

inline ULONG ReadLe24(const UCHAR* at) {
  return ReadLittleEndian(at, 3);
}

inline ULONG ReadLe32(const UCHAR* at) {
  return ReadLittleEndian(at, 4);
}

// Writes the low `count` bytes of value at `at`.
inline VOID WriteLittleEndian(PUCHAR at, ULONG value, ULONG count) {
  for (ULONG i = 0; i < count; ++i) at[i] = static_cast<UCHAR>(value >> (8 * i));
}
