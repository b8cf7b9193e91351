#include "rate_pattern_table.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

struct RowShape {
  ULONG rate;
  ULONG fullSpeedLength, fullSpeedFrames, highSpeedLength, highSpeedFrames;
};

constexpr RowShape kRows[] = {
    {768000, 1, 768, 1, 96},    {705600, 5, 3528, 5, 441},  {384000, 1, 384, 1, 48},
    {352800, 5, 1764, 10, 441}, {192000, 1, 192, 1, 24},    {176400, 5, 882, 20, 441},
    {96000, 1, 96, 1, 12},      {88200, 5, 441, 40, 441},   {48000, 1, 48, 1, 6},
    {44100, 10, 441, 80, 441},  {32000, 1, 32, 1, 4},       {22050, 20, 441, 160, 441},
    {16000, 1, 16, 1, 2},       {11025, 40, 441, 320, 441}, {8000, 1, 8, 1, 1},
};

std::vector<USHORT> Entries(const RatePattern& pattern) {
  return {pattern.entries, pattern.entries + pattern.length};
}

// Extra frames first: the first k entries of a cycle of n carrying T frames hold
// ceil(k T / n) frames, so a stream cut anywhere is never behind the rate.
void ExpectFrontLoaded(const std::vector<USHORT>& entries, ULONG frames) {
  const ULONGLONG n = entries.size();
  ULONGLONG prefix = 0;
  for (ULONGLONG k = 1; k <= n; ++k) {
    prefix += entries[k - 1];
    EXPECT_EQ(prefix, (k * frames + n - 1) / n) << "entry " << k;
  }
}

TEST(RatePatternTable, RowsCarryTheirRateInOrder) {
  ASSERT_EQ(std::size(kRows), kRatePatternRowCount);
  for (ULONG i = 0; i < kRatePatternRowCount; ++i) {
    const RowShape& shape = kRows[i];
    const RatePatternRow& row = RatePatternTable[i];
    SCOPED_TRACE(shape.rate);
    EXPECT_EQ(row.rate, shape.rate);
    ASSERT_EQ(row.fullSpeed.length, shape.fullSpeedLength);
    ASSERT_EQ(row.highSpeed.length, shape.highSpeedLength);
    const auto fs = Entries(row.fullSpeed);
    const auto hs = Entries(row.highSpeed);
    EXPECT_EQ(std::accumulate(fs.begin(), fs.end(), 0u), shape.fullSpeedFrames);
    EXPECT_EQ(std::accumulate(hs.begin(), hs.end(), 0u), shape.highSpeedFrames);
    // A cycle spans n ms at full speed and n / 8 ms at high speed: exactly the rate's frames.
    EXPECT_EQ(shape.fullSpeedFrames * 1000ull, ULONGLONG{shape.rate} * shape.fullSpeedLength);
    EXPECT_EQ(shape.highSpeedFrames * 8000ull, ULONGLONG{shape.rate} * shape.highSpeedLength);
    ExpectFrontLoaded(hs, shape.highSpeedFrames);
    if (shape.rate != 705600) {
      ExpectFrontLoaded(fs, shape.fullSpeedFrames);
    }
    EXPECT_EQ(FindRatePatternRow(shape.rate), &row);
  }
}

TEST(RatePatternTable, SpelledOutPatterns) {
  EXPECT_EQ(Entries(FindRatePatternRow(705600)->fullSpeed),
            (std::vector<USHORT>{706, 705, 706, 705, 706}));
  std::vector<USHORT> fs44100(10, 44);
  fs44100[0] = 45;
  EXPECT_EQ(Entries(FindRatePatternRow(44100)->fullSpeed), fs44100);
  std::vector<USHORT> hs88200(40, 11);
  hs88200[0] = 12;
  EXPECT_EQ(Entries(FindRatePatternRow(88200)->highSpeed), hs88200);
  EXPECT_EQ(&RatePatternForSpeed(*FindRatePatternRow(48000), TRUE),
            &FindRatePatternRow(48000)->highSpeed);
  EXPECT_EQ(&RatePatternForSpeed(*FindRatePatternRow(48000), FALSE),
            &FindRatePatternRow(48000)->fullSpeed);
}

TEST(RatePatternTable, RatesWithoutRowAreNotFound) {
  for (ULONG rate : {0u, 12000u, 44099u, 1411200u, 2822400u}) {
    EXPECT_EQ(FindRatePatternRow(rate), nullptr) << rate;
  }
}

}  // namespace
