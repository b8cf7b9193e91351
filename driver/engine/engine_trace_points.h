// Trace point numbers of the stream engine: claims, directions, workers, completions, engines.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceClaimRefused = 0x2001;
inline constexpr ULONG kTraceReleaseUnclaimed = 0x2002;
inline constexpr ULONG kTraceExclusiveReleasedWithUsers = 0x2003;
inline constexpr ULONG kTraceOsFormatRefused = 0x2004;
inline constexpr ULONG kTraceConfigureFailed = 0x2005;
inline constexpr ULONG kTraceOpenFailed = 0x2006;
inline constexpr ULONG kTraceCloseUnopened = 0x2007;
inline constexpr ULONG kTraceOpenCountsDiffer = 0x2008;
inline constexpr ULONG kTraceClockNotStable = 0x2009;
inline constexpr ULONG kTraceWorkerCreateFailed = 0x200A;
inline constexpr ULONG kTraceResetFormatFailed = 0x200B;
inline constexpr ULONG kTraceStreamKindRefused = 0x200C;
inline constexpr ULONG kTraceContextAllocFailed = 0x2010;
inline constexpr ULONG kTraceTransferTooLong = 0x2011;
inline constexpr ULONG kTraceSubmitFailed = 0x2012;
inline constexpr ULONG kTraceTransferFailed = 0x2013;
inline constexpr ULONG kTraceTransferShort = 0x2014;
inline constexpr ULONG kTraceBusGap = 0x2015;
inline constexpr ULONG kTraceLostBusTime = 0x2016;
inline constexpr ULONG kTraceDeviceGone = 0x2017;
inline constexpr ULONG kTraceRecovery = 0x2018;
inline constexpr ULONG kTraceFeedbackReplaced = 0x2019;
inline constexpr ULONG kTraceWorkItemMissing = 0x201A;
inline constexpr ULONG kTraceFailNextInjected = 0x201B;
inline constexpr ULONG kTraceZeroLength = 0x201C;
inline constexpr ULONG kTracePlaybackDump = 0x201D;
inline constexpr ULONG kTraceEngineStartFailed = 0x2020;
inline constexpr ULONG kTracePendingOutOfOrder = 0x2021;
inline constexpr ULONG kTraceWriteOffsetNegative = 0x2022;
inline constexpr ULONG kTraceFeedTargetMissing = 0x2023;
inline constexpr ULONG kTraceChunkDropped = 0x2024;
inline constexpr ULONG kTraceCaptureChunksEmpty = 0x2025;
inline constexpr ULONG kTraceImplicitStartEnded = 0x2026;
inline constexpr ULONG kTraceSharedBlockFailed = 0x2030;
inline constexpr ULONG kTraceAsioStartFailed = 0x2031;
inline constexpr ULONG kTraceAsioEventRefused = 0x2032;
inline constexpr ULONG kTraceAsioOutputWait = 0x2033;
inline constexpr ULONG kTraceAsioInterrupted = 0x2034;
inline constexpr ULONG kTraceAsioCaptureFormat = 0x2035;
inline constexpr ULONG kTraceAsioOutputThreadFailed = 0x2036;
