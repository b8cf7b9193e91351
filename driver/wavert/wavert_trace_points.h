// Trace point numbers of the wave filter, the WaveRT miniport and its streams.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceRangeSkippedFormatType = 0x4801;
inline constexpr ULONG kTraceRangeWildcardSubFormat = 0x4802;
inline constexpr ULONG kTraceRangeSkippedFixedRate = 0x4803;
inline constexpr ULONG kTraceRangeSkippedDuplicate = 0x4804;
inline constexpr ULONG kTraceRangeSkipped8Bit = 0x4805;
inline constexpr ULONG kTraceRangeListFailed = 0x4806;
inline constexpr ULONG kTraceFilterNoTerminals = 0x4807;
inline constexpr ULONG kTraceFilterBuildFailed = 0x4808;
inline constexpr ULONG kTraceFilterPin = 0x4809;
inline constexpr ULONG kTraceFilterNode = 0x480A;
inline constexpr ULONG kTraceFilterConnection = 0x480B;
inline constexpr ULONG kTraceLinkStepFailed = 0x480C;
inline constexpr ULONG kTraceStreamFormatRefused = 0x480D;
inline constexpr ULONG kTraceStreamStateRefused = 0x480E;
inline constexpr ULONG kTraceStreamBufferFailed = 0x480F;
inline constexpr ULONG kTraceStreamEventTwice = 0x4810;
inline constexpr ULONG kTraceMiniportInitFailed = 0x4811;
inline constexpr ULONG kTraceMiniportNoMatch = 0x4812;
inline constexpr ULONG kTraceMiniportStreamRefused = 0x4813;
inline constexpr ULONG kTraceMiniportPowerIgnored = 0x4814;
inline constexpr ULONG kTraceMiniportNoDeviceDescription = 0x4815;
inline constexpr ULONG kTracePropertyRefused = 0x4816;
inline constexpr ULONG kTraceVolumeOffRange = 0x4817;
inline constexpr ULONG kTraceVolumeZeroStep = 0x4818;
inline constexpr ULONG kTraceVolumeMasterChannel = 0x4819;
inline constexpr ULONG kTraceModesRefused = 0x481A;
