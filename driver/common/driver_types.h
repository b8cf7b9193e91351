// The driver's shared vocabulary. The kernel operations take these as the plain numbers their
// callers pass (ULONG direction, USHORT format tag and stream kind); code inside the driver names
// them through these enumerations and converts at the edge with Value().
#pragma once

#include "kernel_mode.h"

// 0 is USB OUT (render), 1 USB IN.
enum class Direction : ULONG { Playback = 0, Capture = 1 };

// The WAVE format tags the driver meets. The converters take only PCM and IEEE float; A-law and
// mu-law reach format selection from the WaveRT side and are refused there.
enum class FormatTag : USHORT { Pcm = 1, IeeeFloat = 3, ALaw = 6, MuLaw = 7 };

// What the device is told the stream carries. Native DSD travels as 32-bit words at rate / 32.
enum class StreamKind : USHORT { Pcm = 0, NativeDsd = 1 };

template <typename Enum>
constexpr auto Value(Enum value) {
  return static_cast<__underlying_type(Enum)>(value);
}
