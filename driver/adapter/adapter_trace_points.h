// Trace point numbers of the driver's entry, routing, device start and adapter object.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceTracingStarted = 0x1001;
inline constexpr ULONG kTraceTracingStopped = 0x1002;
inline constexpr ULONG kTraceFrameworkInitFailed = 0x1003;
inline constexpr ULONG kTraceAddDeviceFailed = 0x1004;
inline constexpr ULONG kTraceRemovalNotice = 0x1005;
inline constexpr ULONG kTracePrivateCreateRefused = 0x1006;
inline constexpr ULONG kTracePrivateRequestRefused = 0x1007;
inline constexpr ULONG kTraceAdapterAllocFailed = 0x1008;
inline constexpr ULONG kTraceDeviceStartFailed = 0x1009;
inline constexpr ULONG kTraceDeviceStarted = 0x100A;
inline constexpr ULONG kTraceInitStepFailed = 0x100B;
inline constexpr ULONG kTraceControllerInfoSkipped = 0x100C;
inline constexpr ULONG kTraceAmdWorkaround = 0x100D;
inline constexpr ULONG kTraceNativeDsd = 0x100E;
inline constexpr ULONG kTraceFixedRate = 0x100F;
inline constexpr ULONG kTraceSetDeviceRateFailed = 0x1010;
inline constexpr ULONG kTraceSettingUnusable = 0x1011;
inline constexpr ULONG kTraceSettingWriteFailed = 0x1012;
inline constexpr ULONG kTraceSettingReadFailed = 0x1013;
inline constexpr ULONG kTraceSubdeviceNameMissing = 0x1014;
inline constexpr ULONG kTraceSubdeviceNotInstalled = 0x1015;
inline constexpr ULONG kTraceAdapterRefused = 0x1017;
inline constexpr ULONG kTracePowerState = 0x1018;
inline constexpr ULONG kTraceStreamKindReplayFailed = 0x1019;
inline constexpr ULONG kTraceSetFixedRate = 0x101B;
inline constexpr ULONG kTracePrivateGuardClosed = 0x101C;
