#include "converter_table.h"

#include "converter_kernels.h"

namespace convert {
namespace {

// A copy between a float and a PCM format does the same in both domains (the one saturation or
// scaling is all there is), so the float half shares the integer half's function.
template <ConverterFormatIndex S, ConverterFormatIndex D, ArithmeticDomain Dm>
constexpr ArithmeticDomain kCopyDomain = (S == ConverterFormatFloat) != (D == ConverterFormatFloat)
                                             ? ArithmeticDomainInteger
                                             : Dm;

template <ULONG Index>
constexpr ConverterPair PairAt() {
  constexpr auto S = static_cast<ConverterFormatIndex>(Index % ConverterFormatCount);
  constexpr auto D =
      static_cast<ConverterFormatIndex>(Index / ConverterFormatCount % ConverterFormatCount);
  constexpr auto Dm =
      static_cast<ArithmeticDomain>(Index / (ConverterFormatCount * ConverterFormatCount));
  static_assert(ConverterPairIndex(S, D, Dm) == Index);
  return {&Convert<S, D, Dm, Operation::Mix>,
          &Convert<S, D, kCopyDomain<S, D, Dm>, Operation::Copy>};
}

}  // namespace

// One row per destination format; within a row the sources PCM16, PCM24, PCM32, float.
constexpr ConverterPair kConverterTable[kConverterPairCount] = {
    // integer domain
    PairAt<0>(), PairAt<1>(), PairAt<2>(), PairAt<3>(),      // -> PCM16
    PairAt<4>(), PairAt<5>(), PairAt<6>(), PairAt<7>(),      // -> PCM24
    PairAt<8>(), PairAt<9>(), PairAt<10>(), PairAt<11>(),    // -> PCM32
    PairAt<12>(), PairAt<13>(), PairAt<14>(), PairAt<15>(),  // -> float
    // float domain
    PairAt<16>(), PairAt<17>(), PairAt<18>(), PairAt<19>(),  // -> PCM16
    PairAt<20>(), PairAt<21>(), PairAt<22>(), PairAt<23>(),  // -> PCM24
    PairAt<24>(), PairAt<25>(), PairAt<26>(), PairAt<27>(),  // -> PCM32
    PairAt<28>(), PairAt<29>(), PairAt<30>(), PairAt<31>(),  // -> float
};

}  // namespace convert
