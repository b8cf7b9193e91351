#include "rate_names.h"

#include "formats/buffer_sizes.h"
#include "formats/sample_rates.h"

bool IsNamedDsdRate(ULONG rate) {
  for (const RateName& name : kDsdRateNames)
    if (name.rate == rate) return true;
  return false;
}

ULONG DisplayedBufferSize(ULONG index, ULONG rate) {
  if (IsNamedDsdRate(rate)) return BufferSizeFrames(index, rate / kDsdWordBits) * kDsdWordBits;
  return BufferSizeFrames(index, rate);
}
