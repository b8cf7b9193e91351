// Loading and storing groups of N samples of each format, unaligned, in the integer view
// (left-justified 32-bit) or, for float samples, as they are. Stores narrow by dropping low bits.
#pragma once

#include "sample_converter.h"
#include "sample_lanes.h"

namespace convert {

constexpr SIZE_T SampleBytes(ConverterFormatIndex format) {
  return format == ConverterFormatPcm16 ? 2 : format == ConverterFormatPcm24 ? 3 : 4;
}

template <int N>
inline Ints<N> LoadPcm16(const BYTE* p) {
  Ints<N> r;
  for (int i = 0; i < N; ++i, p += 2)
    r.lane[i] =
        static_cast<INT32>(static_cast<UINT32>(p[0]) << 16 | static_cast<UINT32>(p[1]) << 24);
  return r;
}

template <int N>
inline VOID StorePcm16(BYTE* p, Ints<N> v) {
  for (int i = 0; i < N; ++i, p += 2) {
    p[0] = static_cast<BYTE>(v.lane[i] >> 16);
    p[1] = static_cast<BYTE>(v.lane[i] >> 24);
  }
}

template <int N>
inline Ints<N> LoadPcm24(const BYTE* p) {
  Ints<N> r;
  for (int i = 0; i < N; ++i, p += 3)
    r.lane[i] =
        static_cast<INT32>(static_cast<UINT32>(p[0]) << 8 | static_cast<UINT32>(p[1]) << 16 |
                           static_cast<UINT32>(p[2]) << 24);
  return r;
}

template <int N>
inline VOID StorePcm24(BYTE* p, Ints<N> v) {
  for (int i = 0; i < N; ++i, p += 3) {
    p[0] = static_cast<BYTE>(v.lane[i] >> 8);
    p[1] = static_cast<BYTE>(v.lane[i] >> 16);
    p[2] = static_cast<BYTE>(v.lane[i] >> 24);
  }
}

// PCM32 and float samples are stored as they are held: Group is Ints<N> or Floats<N>.
template <typename Group>
inline Group LoadWords(const BYTE* p) {
  Group r;
  memcpy(r.lane, p, sizeof(r.lane));
  return r;
}

template <typename Group>
inline VOID StoreWords(BYTE* p, Group g) {
  memcpy(p, g.lane, sizeof(g.lane));
}

#if TARNLINK_CONVERT_SSE2
template <>
inline Ints<4> LoadPcm16<4>(const BYTE* p) {
  const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  return {_mm_unpacklo_epi16(_mm_setzero_si128(), s)};
}

template <>
inline VOID StorePcm16<4>(BYTE* p, Ints<4> v) {
  // The arithmetic shift leaves values in the 16-bit range, so the saturating pack only narrows.
  const __m128i s = _mm_srai_epi32(v.v, 16);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(s, s));
}

// Twelve bytes of four packed 24-bit samples, read without touching the bytes after them.
inline __m128i LoadTwelveBytes(const BYTE* p) {
  INT32 tail;
  memcpy(&tail, p + 8, sizeof(tail));
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                            _mm_cvtsi32_si128(tail));
}

template <>
inline Ints<4> LoadPcm24<4>(const BYTE* p) {
  // Gather the four bytes from 3k for lane k, then shift each lane up by a byte: the byte of
  // the next sample falls off the top and the sample ends left-justified.
  const __m128i b = LoadTwelveBytes(p);
  const __m128i from0and3 = _mm_unpacklo_epi32(b, _mm_srli_si128(b, 3));
  const __m128i from6and9 = _mm_unpacklo_epi32(_mm_srli_si128(b, 6), _mm_srli_si128(b, 9));
  return {_mm_slli_epi32(_mm_unpacklo_epi64(from0and3, from6and9), 8)};
}

template <>
inline VOID StorePcm24<4>(BYTE* p, Ints<4> v) {
  // Keep the top three bytes of each lane, join the two samples of each 64-bit half into six
  // bytes, then write bytes 0..7 and 8..11 of the twelve.
  const __m128i top = _mm_srli_epi32(v.v, 8);
  const __m128i pairs =
      _mm_or_si128(_mm_and_si128(top, _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF)),
                   _mm_and_si128(_mm_srli_epi64(top, 8),
                                 _mm_set_epi32(0x0000FFFF, -0x01000000, 0x0000FFFF, -0x01000000)));
  const __m128i high = _mm_srli_si128(pairs, 8);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_or_si128(pairs, _mm_slli_epi64(high, 48)));
  const INT32 tail = _mm_cvtsi128_si32(_mm_srli_epi64(high, 16));
  memcpy(p + 8, &tail, sizeof(tail));
}

template <>
inline Ints<4> LoadWords<Ints<4>>(const BYTE* p) {
  return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))};
}

template <>
inline VOID StoreWords<Ints<4>>(BYTE* p, Ints<4> v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v.v);
}

template <>
inline Floats<4> LoadWords<Floats<4>>(const BYTE* p) {
  return {_mm_loadu_ps(reinterpret_cast<const float*>(p))};
}

template <>
inline VOID StoreWords<Floats<4>>(BYTE* p, Floats<4> f) {
  _mm_storeu_ps(reinterpret_cast<float*>(p), f.v);
}
#endif

// The integer view of a sample of any format (a float sample saturates at full scale).
template <ConverterFormatIndex F, int N>
inline Ints<N> IntegerView(const BYTE* p) {
  if constexpr (F == ConverterFormatPcm16) {
    return LoadPcm16<N>(p);
  } else if constexpr (F == ConverterFormatPcm24) {
    return LoadPcm24<N>(p);
  } else if constexpr (F == ConverterFormatPcm32) {
    return LoadWords<Ints<N>>(p);
  } else {
    return ScaleToInts<N>(LoadWords<Floats<N>>(p));
  }
}

// The float view of a sample of any format (a float sample is used as it is).
template <ConverterFormatIndex F, int N>
inline Floats<N> FloatView(const BYTE* p) {
  if constexpr (F == ConverterFormatFloat) {
    return LoadWords<Floats<N>>(p);
  } else {
    return ScaleToFloats<N>(IntegerView<F, N>(p));
  }
}

// Stores integer values narrowed to the format.
template <ConverterFormatIndex F, int N>
inline VOID StoreNarrowed(BYTE* p, Ints<N> v) {
  if constexpr (F == ConverterFormatPcm16) {
    StorePcm16<N>(p, v);
  } else if constexpr (F == ConverterFormatPcm24) {
    StorePcm24<N>(p, v);
  } else if constexpr (F == ConverterFormatPcm32) {
    StoreWords<Ints<N>>(p, v);
  } else {
    StoreWords<Floats<N>>(p, ScaleToFloats<N>(v));
  }
}

// Stores float values: PCM formats saturate at full scale, float keeps them unclipped.
template <ConverterFormatIndex F, int N>
inline VOID StoreFromFloat(BYTE* p, Floats<N> f) {
  if constexpr (F == ConverterFormatFloat) {
    StoreWords<Floats<N>>(p, f);
  } else {
    StoreNarrowed<F, N>(p, ScaleToInts<N>(f));
  }
}

}  // namespace convert
