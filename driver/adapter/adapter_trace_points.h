// Trace point numbers of the driver's entry, routing and device start.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceTracingStarted = 0x1001;
inline constexpr ULONG kTraceTracingStopped = 0x1002;
inline constexpr ULONG kTraceFrameworkInitFailed = 0x1003;
inline constexpr ULONG kTraceAddDeviceFailed = 0x1004;
inline constexpr ULONG kTraceRemovalNotice = 0x1005;
inline constexpr ULONG kTracePrivateCreateRefused = 0x1006;
inline constexpr ULONG kTracePrivateRequestUnserved = 0x1007;
inline constexpr ULONG kTraceUsbFunctionAllocFailed = 0x1008;
inline constexpr ULONG kTraceUsbFunctionStartFailed = 0x1009;
inline constexpr ULONG kTraceDeviceStarted = 0x100A;
