// How the bus divides time: a full-speed frame lasts 1 ms, a high-speed microframe 125 us.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kMicroframesPerMillisecond = 8;

// Packets per millisecond for one packet every `serviceInterval` (micro)frames: at high speed
// 8 / interval and never fewer than one; at full speed one.
inline ULONG PacketsPerMillisecond(BOOLEAN highSpeed, ULONG serviceInterval) {
  if (!highSpeed || serviceInterval == 0 || serviceInterval >= kMicroframesPerMillisecond) {
    return 1;
  }
  return kMicroframesPerMillisecond / serviceInterval;
}
