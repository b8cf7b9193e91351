// A plain, sample-at-a-time model of the converters, written straight from their rules and kept
// apart from the product code, to check the product's grouped and vectorised paths against.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sample_converter.h"

namespace reference {

inline size_t Bytes(ConverterFormatIndex f) {
  return f == ConverterFormatPcm16 ? 2 : f == ConverterFormatPcm24 ? 3 : 4;
}

inline int32_t Saturate(float x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483648.0f) return INT32_MAX;
  if (x < -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(std::trunc(x));
}

inline float ReadFloat(const uint8_t* p) {
  float f;
  std::memcpy(&f, p, 4);
  return f;
}

inline void WriteFloat(uint8_t* p, float f) {
  std::memcpy(p, &f, 4);
}

// Signed value of the little-endian bytes, as a two's complement number of 8 * count bits.
inline int64_t ReadSigned(const uint8_t* p, size_t count) {
  int64_t v = 0;
  for (size_t i = count; i-- > 0;) v = v * 256 + p[i];
  const int64_t range = int64_t{1} << (8 * count);
  return v >= range / 2 ? v - range : v;
}

inline void WriteSigned(uint8_t* p, size_t count, int64_t v) {
  for (size_t i = 0; i < count; ++i, v >>= 8) p[i] = static_cast<uint8_t>(v & 0xFF);
}

inline int32_t IntegerView(ConverterFormatIndex f, const uint8_t* p) {
  switch (f) {
    case ConverterFormatPcm16:
      return static_cast<int32_t>(ReadSigned(p, 2) * 65536);
    case ConverterFormatPcm24:
      return static_cast<int32_t>(ReadSigned(p, 3) * 256);
    case ConverterFormatPcm32:
      return static_cast<int32_t>(ReadSigned(p, 4));
    default:
      return Saturate(ReadFloat(p) * 2147483648.0f);
  }
}

inline float IntToFloat(int32_t v) {
  return std::ldexp(static_cast<float>(v), -31);
}

inline float FloatView(ConverterFormatIndex f, const uint8_t* p) {
  return f == ConverterFormatFloat ? ReadFloat(p) : IntToFloat(IntegerView(f, p));
}

// Drops the low bits: floor division by the power of two, so negative values round down.
inline void Narrow(ConverterFormatIndex f, uint8_t* p, int32_t v) {
  switch (f) {
    case ConverterFormatPcm16:
      WriteSigned(p, 2, static_cast<int64_t>(std::floor(v / 65536.0)));
      break;
    case ConverterFormatPcm24:
      WriteSigned(p, 3, static_cast<int64_t>(std::floor(v / 256.0)));
      break;
    case ConverterFormatPcm32:
      WriteSigned(p, 4, v);
      break;
    default:
      WriteFloat(p, IntToFloat(v));
      break;
  }
}

inline int32_t SaturatingSum(int32_t a, int32_t b) {
  const int64_t s = int64_t{a} + int64_t{b};
  return s > INT32_MAX ? INT32_MAX : s < INT32_MIN ? INT32_MIN : static_cast<int32_t>(s);
}

inline void Sample(ConverterFormatIndex s, ConverterFormatIndex d, ArithmeticDomain domain,
                   bool mix, uint8_t* dst, const uint8_t* src) {
  if (domain == ArithmeticDomainInteger) {
    int32_t v = IntegerView(s, src);
    if (mix) v = SaturatingSum(IntegerView(d, dst), v);
    Narrow(d, dst, v);
    return;
  }
  if (d == ConverterFormatFloat && s == ConverterFormatFloat && !mix) {
    std::memcpy(dst, src, 4);  // a plain copy of the 32 bits, NaN payloads included
    return;
  }
  float f = FloatView(s, src);
  if (mix) f = FloatView(d, dst) + f;
  if (d == ConverterFormatFloat) {
    WriteFloat(dst, f);
  } else {
    Narrow(d, dst, Saturate(f * 2147483648.0f));
  }
}

inline void Convert(ConverterFormatIndex s, ConverterFormatIndex d, ArithmeticDomain domain,
                    bool mix, void* dst, uint32_t dstChannels, const void* src,
                    uint32_t srcChannels, uint32_t frames) {
  auto* out = static_cast<uint8_t*>(dst);
  auto* in = static_cast<const uint8_t*>(src);
  const uint32_t shared = dstChannels < srcChannels ? dstChannels : srcChannels;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    for (uint32_t c = 0; c < shared; ++c)
      Sample(s, d, domain, mix, out + c * Bytes(d), in + c * Bytes(s));
    out += dstChannels * Bytes(d);
    in += srcChannels * Bytes(s);
  }
}

}  // namespace reference
