// The constant table of converter pairs, indexed by source + 4 x destination + 16 x domain
// (formats as ConverterFormatIndex, domain as ArithmeticDomain).
#pragma once

#include "sample_converter.h"

namespace convert {

struct ConverterPair {
  SampleConvertRoutine mix;
  SampleConvertRoutine copy;
};

constexpr ULONG kConverterPairCount = 2 * ConverterFormatCount * ConverterFormatCount;

constexpr ULONG ConverterPairIndex(ConverterFormatIndex source, ConverterFormatIndex destination,
                                   ArithmeticDomain domain) {
  return source + ConverterFormatCount * destination +
         ConverterFormatCount * ConverterFormatCount * domain;
}

extern const ConverterPair kConverterTable[kConverterPairCount];

}  // namespace convert
