// The converter of one (source format, destination format, domain, operation): a per-sample
// step built from the primitives, run over groups of samples, walked frame by frame.
#pragma once

#include "sample_codecs.h"

namespace convert {

enum class Operation { Copy, Mix };

// Integer domain: copy = Narrow(view of source); mix = Narrow(view of destination + view of
// source, saturated). Float domain: the same in single precision, saturating only at a PCM store.
template <ConverterFormatIndex S, ConverterFormatIndex D, ArithmeticDomain Dm, Operation Op, int N>
inline VOID Step(BYTE* dst, const BYTE* src) {
  if constexpr (Dm == ArithmeticDomainInteger) {
    Ints<N> v = IntegerView<S, N>(src);
    if constexpr (Op == Operation::Mix) v = SaturatingSum<N>(IntegerView<D, N>(dst), v);
    StoreNarrowed<D, N>(dst, v);
  } else {
    Floats<N> f = FloatView<S, N>(src);
    if constexpr (Op == Operation::Mix) f = Sum<N>(FloatView<D, N>(dst), f);
    StoreFromFloat<D, N>(dst, f);
  }
}

// Copies that give back every source sample unchanged: same-format integer copies, float to float
// in the float domain, and PCM16/PCM24 through a float (their 24 or fewer bits fit exactly).
template <ConverterFormatIndex S, ConverterFormatIndex D, ArithmeticDomain Dm, Operation Op>
constexpr bool kIsIdentity = Op == Operation::Copy&& S == D &&
                             (Dm == ArithmeticDomainInteger ? S != ConverterFormatFloat
                                                            : S != ConverterFormatPcm32);

// Converts count consecutive samples.
template <ConverterFormatIndex S, ConverterFormatIndex D, ArithmeticDomain Dm, Operation Op>
inline VOID ConvertRun(BYTE* dst, const BYTE* src, SIZE_T count) {
  constexpr SIZE_T kSrcBytes = SampleBytes(S);
  constexpr SIZE_T kDstBytes = SampleBytes(D);
  if constexpr (kIsIdentity<S, D, Dm, Op>) {
    for (SIZE_T i = 0; i < count; ++i, dst += kDstBytes, src += kSrcBytes)
      memcpy(dst, src, kSrcBytes);
  } else {
    SIZE_T i = 0;
    for (; i + 8 <= count; i += 8, dst += 8 * kDstBytes, src += 8 * kSrcBytes) {
      Step<S, D, Dm, Op, 4>(dst, src);
      Step<S, D, Dm, Op, 4>(dst + 4 * kDstBytes, src + 4 * kSrcBytes);
    }
    for (; i + 4 <= count; i += 4, dst += 4 * kDstBytes, src += 4 * kSrcBytes)
      Step<S, D, Dm, Op, 4>(dst, src);
    for (; i < count; ++i, dst += kDstBytes, src += kSrcBytes) Step<S, D, Dm, Op, 1>(dst, src);
  }
}

// The frame walk: channels both sides have are converted, the rest of each frame is stepped over.
// Equal channel counts make the frames one run of samples.
template <ConverterFormatIndex S, ConverterFormatIndex D, ArithmeticDomain Dm, Operation Op>
VOID Convert(PVOID destination, ULONG dstChannels, PCVOID source, ULONG srcChannels, ULONG frames) {
  BYTE* dst = static_cast<BYTE*>(destination);
  const BYTE* src = static_cast<const BYTE*>(source);
  const ULONG shared = dstChannels < srcChannels ? dstChannels : srcChannels;
  if (shared == 0 || frames == 0) return;
  if (dstChannels == srcChannels) {
    const SIZE_T samples = static_cast<SIZE_T>(frames) * shared;
    if constexpr (kIsIdentity<S, D, Dm, Op>) {
      memcpy(dst, src, samples * SampleBytes(S));
    } else {
      ConvertRun<S, D, Dm, Op>(dst, src, samples);
    }
    return;
  }
  const SIZE_T dstStride = SampleBytes(D) * dstChannels;
  const SIZE_T srcStride = SampleBytes(S) * srcChannels;
  for (ULONG frame = 0; frame < frames; ++frame, dst += dstStride, src += srcStride)
    ConvertRun<S, D, Dm, Op>(dst, src, shared);
}

}  // namespace convert
