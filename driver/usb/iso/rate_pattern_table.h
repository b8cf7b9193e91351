// The rate pattern table: how many audio frames each (micro)frame of a playback stream without
// feedback carries, per sample rate and bus speed. Format selection uses it to refuse rates the
// scheduler cannot pace, and the scheduler walks the current row's pattern packet by packet.
#pragma once

#include "kernel_mode.h"

// One cycle of frames per (micro)frame. Over `length` entries the cycle carries exactly the
// rate's frames for that span of bus time, so a stream that walks the pattern without skipping
// delivers the nominal rate exactly.
struct RatePattern {
  const USHORT* entries;
  ULONG length;
};

struct RatePatternRow {
  ULONG rate;
  RatePattern fullSpeed;  // frames per 1 ms frame
  RatePattern highSpeed;  // frames per 125 us microframe
};

inline constexpr ULONG kRatePatternRowCount = 15;

// Constant data, built at compile time: no constructor runs at load.
extern const RatePatternRow RatePatternTable[kRatePatternRowCount];

// The row of exactly this rate, or null when the table has none.
const RatePatternRow* FindRatePatternRow(ULONG rate);

inline const RatePattern& RatePatternForSpeed(const RatePatternRow& row, BOOLEAN highSpeed) {
  return highSpeed ? row.highSpeed : row.fullSpeed;
}
