// Trace point numbers of the private \asio channel.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceAsioUnknownRequest = 0x3001;
inline constexpr ULONG kTraceAsioWrongState = 0x3002;
inline constexpr ULONG kTraceAsioInputShort = 0x3003;
inline constexpr ULONG kTraceAsioOutputShort = 0x3004;
inline constexpr ULONG kTraceAsioRingTooLarge = 0x3005;
