#include "sample_rates.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

bool Listed(const ULONG* begin, const ULONG* end, ULONG rate) {
  return std::find(begin, end, rate) != end;
}

}  // namespace

bool WholeRate(double rate, ULONG* hertz) {
  if (!std::isfinite(rate) || rate < 0 || rate > 4294967295.0 || std::floor(rate) != rate)
    return false;
  *hertz = static_cast<ULONG>(rate);
  return true;
}

bool AcceptRate(ULONG rate, bool dsdMode, ULONG lowest, ULONG highest, ULONG* deviceRate) {
  if (dsdMode) {
    if (!Listed(std::begin(kDsdRates), std::end(kDsdRates), rate)) return false;
    rate /= kDsdWordBits;
  }
  if (rate < lowest || rate > highest) return false;
  if (!Listed(std::begin(kPcmRates), std::end(kPcmRates), rate)) return false;
  *deviceRate = rate;
  return true;
}
