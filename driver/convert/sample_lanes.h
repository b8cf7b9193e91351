// Groups of N samples in the two arithmetic representations of the converters, and the
// arithmetic on them. The generic versions are the definition of every primitive, one sample at a
// time; on x86-64 the four-sample groups use SSE2 (present on every x86-64 machine) and must give
// the same bits.
#pragma once

#include <string.h>

#include "kernel_mode.h"

// TARNLINK_CONVERT_PORTABLE builds the generic groups only (tests use it to check the fallback).
#if defined(__SSE2__) && !defined(TARNLINK_CONVERT_PORTABLE)
#include <emmintrin.h>
#define TARNLINK_CONVERT_SSE2 1
#endif

namespace convert {

inline constexpr float kTwoPow31 = 0x1p31f;
inline constexpr float kTwoPowMinus31 = 0x1p-31f;
inline constexpr INT32 kIntMax = 0x7FFFFFFF;
inline constexpr INT32 kIntMin = -kIntMax - 1;

// Left-justified signed 32-bit values (the integer view of samples).
template <int N>
struct Ints {
  INT32 lane[N];
};

// Single-precision values with full scale +-1.0 (the float view of samples).
template <int N>
struct Floats {
  float lane[N];
};

// x NaN -> 0; x >= 2^31 -> 0x7FFFFFFF; x < -2^31 -> 0x80000000; otherwise x truncated toward 0.
inline INT32 SaturateToInt(float x) {
  if (x != x) return 0;
  if (x >= kTwoPow31) return kIntMax;
  if (x < -kTwoPow31) return kIntMin;
  return static_cast<INT32>(x);
}

// Sum of two 32-bit values, clamped to the 32-bit range instead of wrapping.
template <int N>
inline Ints<N> SaturatingSum(Ints<N> a, Ints<N> b) {
  Ints<N> r;
  for (int i = 0; i < N; ++i) {
    const INT64 sum = static_cast<INT64>(a.lane[i]) + b.lane[i];
    r.lane[i] = sum > kIntMax ? kIntMax : sum < kIntMin ? kIntMin : static_cast<INT32>(sum);
  }
  return r;
}

// Float full scale to the integer view: Saturate(f x 2^31).
template <int N>
inline Ints<N> ScaleToInts(Floats<N> f) {
  Ints<N> r;
  for (int i = 0; i < N; ++i) r.lane[i] = SaturateToInt(f.lane[i] * kTwoPow31);
  return r;
}

// Integer view to float full scale: rounded to the nearest float, then scaled by 2^-31 (exact).
template <int N>
inline Floats<N> ScaleToFloats(Ints<N> v) {
  Floats<N> r;
  for (int i = 0; i < N; ++i) r.lane[i] = static_cast<float>(v.lane[i]) * kTwoPowMinus31;
  return r;
}

template <int N>
inline Floats<N> Sum(Floats<N> a, Floats<N> b) {
  Floats<N> r;
  for (int i = 0; i < N; ++i) r.lane[i] = a.lane[i] + b.lane[i];
  return r;
}

#if TARNLINK_CONVERT_SSE2
template <>
struct Ints<4> {
  __m128i v;
};
template <>
struct Floats<4> {
  __m128 v;
};

template <>
inline Ints<4> SaturatingSum<4>(Ints<4> a, Ints<4> b) {
  // The wrapped sum overflowed exactly when both operands share a sign the sum lacks; the
  // clamp then takes the operands' side: 0x7FFFFFFF for positive, 0x80000000 for negative.
  const __m128i sum = _mm_add_epi32(a.v, b.v);
  const __m128i overflow =
      _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(sum, a.v), _mm_xor_si128(sum, b.v)), 31);
  const __m128i clamp = _mm_xor_si128(_mm_srai_epi32(a.v, 31), _mm_set1_epi32(kIntMax));
  return {_mm_or_si128(_mm_and_si128(overflow, clamp), _mm_andnot_si128(overflow, sum))};
}

template <>
inline Ints<4> ScaleToInts<4>(Floats<4> f) {
  // cvttps2dq yields 0x80000000 for NaN and for everything outside the range; flipping it for
  // x >= 2^31 gives 0x7FFFFFFF, and NaN is cleared to 0.
  const __m128 x = _mm_mul_ps(f.v, _mm_set1_ps(kTwoPow31));
  const __m128i truncated = _mm_cvttps_epi32(x);
  const __m128i high = _mm_castps_si128(_mm_cmpge_ps(x, _mm_set1_ps(kTwoPow31)));
  const __m128i nan = _mm_castps_si128(_mm_cmpunord_ps(x, x));
  return {_mm_andnot_si128(nan, _mm_xor_si128(truncated, high))};
}

template <>
inline Floats<4> ScaleToFloats<4>(Ints<4> v) {
  return {_mm_mul_ps(_mm_cvtepi32_ps(v.v), _mm_set1_ps(kTwoPowMinus31))};
}

template <>
inline Floats<4> Sum<4>(Floats<4> a, Floats<4> b) {
  return {_mm_add_ps(a.v, b.v)};
}
#endif

}  // namespace convert
