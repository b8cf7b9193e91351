#include "rate_pattern_table.h"

namespace {

// A cycle of n entries carrying T frames, with the extra frames first: entry k is
// ceil((k + 1) T / n) - ceil(k T / n).
template <ULONG N>
struct PatternCycle {
  USHORT entries[N];
};

constexpr ULONG CeilDiv(ULONG value, ULONG divisor) {
  return (value + divisor - 1) / divisor;
}

template <ULONG N, ULONG T>
constexpr PatternCycle<N> EvenCycle() {
  PatternCycle<N> cycle{};
  for (ULONG k = 0; k < N; ++k) {
    cycle.entries[k] = static_cast<USHORT>(CeilDiv((k + 1) * T, N) - CeilDiv(k * T, N));
  }
  return cycle;
}

// 705600 Hz at full speed alternates instead of front-loading its three extra frames: the
// packets then never differ from their neighbours by more than one frame.
constexpr PatternCycle<5> kFullSpeed705600 = {{706, 705, 706, 705, 706}};

constexpr auto kFs768000 = EvenCycle<1, 768>();
constexpr auto kHs768000 = EvenCycle<1, 96>();
constexpr auto kHs705600 = EvenCycle<5, 441>();
constexpr auto kFs384000 = EvenCycle<1, 384>();
constexpr auto kHs384000 = EvenCycle<1, 48>();
constexpr auto kFs352800 = EvenCycle<5, 1764>();
constexpr auto kHs352800 = EvenCycle<10, 441>();
constexpr auto kFs192000 = EvenCycle<1, 192>();
constexpr auto kHs192000 = EvenCycle<1, 24>();
constexpr auto kFs176400 = EvenCycle<5, 882>();
constexpr auto kHs176400 = EvenCycle<20, 441>();
constexpr auto kFs96000 = EvenCycle<1, 96>();
constexpr auto kHs96000 = EvenCycle<1, 12>();
constexpr auto kFs88200 = EvenCycle<5, 441>();
constexpr auto kHs88200 = EvenCycle<40, 441>();
constexpr auto kFs48000 = EvenCycle<1, 48>();
constexpr auto kHs48000 = EvenCycle<1, 6>();
constexpr auto kFs44100 = EvenCycle<10, 441>();
constexpr auto kHs44100 = EvenCycle<80, 441>();
constexpr auto kFs32000 = EvenCycle<1, 32>();
constexpr auto kHs32000 = EvenCycle<1, 4>();
constexpr auto kFs22050 = EvenCycle<20, 441>();
constexpr auto kHs22050 = EvenCycle<160, 441>();
constexpr auto kFs16000 = EvenCycle<1, 16>();
constexpr auto kHs16000 = EvenCycle<1, 2>();
constexpr auto kFs11025 = EvenCycle<40, 441>();
constexpr auto kHs11025 = EvenCycle<320, 441>();
constexpr auto kFs8000 = EvenCycle<1, 8>();
constexpr auto kHs8000 = EvenCycle<1, 1>();

template <ULONG N>
constexpr RatePattern Pattern(const PatternCycle<N>& cycle) {
  return RatePattern{cycle.entries, N};
}

}  // namespace

constexpr RatePatternRow RatePatternTable[kRatePatternRowCount] = {
    {768000, Pattern(kFs768000), Pattern(kHs768000)},
    {705600, Pattern(kFullSpeed705600), Pattern(kHs705600)},
    {384000, Pattern(kFs384000), Pattern(kHs384000)},
    {352800, Pattern(kFs352800), Pattern(kHs352800)},
    {192000, Pattern(kFs192000), Pattern(kHs192000)},
    {176400, Pattern(kFs176400), Pattern(kHs176400)},
    {96000, Pattern(kFs96000), Pattern(kHs96000)},
    {88200, Pattern(kFs88200), Pattern(kHs88200)},
    {48000, Pattern(kFs48000), Pattern(kHs48000)},
    {44100, Pattern(kFs44100), Pattern(kHs44100)},
    {32000, Pattern(kFs32000), Pattern(kHs32000)},
    {22050, Pattern(kFs22050), Pattern(kHs22050)},
    {16000, Pattern(kFs16000), Pattern(kHs16000)},
    {11025, Pattern(kFs11025), Pattern(kHs11025)},
    {8000, Pattern(kFs8000), Pattern(kHs8000)},
};

const RatePatternRow* FindRatePatternRow(ULONG rate) {
  for (const RatePatternRow& row : RatePatternTable) {
    if (row.rate == rate) {
      return &row;
    }
  }
  return nullptr;
}
