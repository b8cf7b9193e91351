// Trace point numbers of the private \asio channel.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceAsioUnknownRequest = 0x3001;
inline constexpr ULONG kTraceAsioWrongState = 0x3002;
inline constexpr ULONG kTraceAsioInputShort = 0x3003;
inline constexpr ULONG kTraceAsioOutputShort = 0x3004;
inline constexpr ULONG kTraceAsioRingTooLarge = 0x3005;
inline constexpr ULONG kTraceAsioFormatQueryFailed = 0x3006;
inline constexpr ULONG kTraceAsioReleaseNotHeld = 0x3007;
inline constexpr ULONG kTraceAsioPrepareRefused = 0x3008;
inline constexpr ULONG kTraceAsioClaimRetry = 0x3009;
inline constexpr ULONG kTraceAsioRequestFailed = 0x300A;
inline constexpr ULONG kTraceAsioSetRateRefused = 0x300B;
