// Trace point numbers of the Port Class framework.
#pragma once

#include "kernel/ntdef.h"

inline constexpr ULONG kTracePcInitializeRefused = 0x30001;
inline constexpr ULONG kTracePcAddDeviceRefused = 0x30002;
inline constexpr ULONG kTracePcAddDeviceFailed = 0x30003;
inline constexpr ULONG kTracePcStartLowerFailed = 0x30004;
inline constexpr ULONG kTracePcStartRoutineFailed = 0x30005;
inline constexpr ULONG kTracePcDeviceStarted = 0x30006;
inline constexpr ULONG kTracePcDeviceRemoved = 0x30007;
inline constexpr ULONG kTracePcPowerRefused = 0x30008;
inline constexpr ULONG kTracePcNewPortRefused = 0x30009;
inline constexpr ULONG kTracePcPortInitRefused = 0x3000A;
inline constexpr ULONG kTracePcPortInitFailed = 0x3000B;
inline constexpr ULONG kTracePcRegisterFailed = 0x3000D;
inline constexpr ULONG kTracePcUnregisterRefused = 0x3000E;
inline constexpr ULONG kTracePcCreateRefused = 0x3000F;
inline constexpr ULONG kTracePcUnsupportedRequest = 0x30010;
inline constexpr ULONG kTracePcFrameworkUnload = 0x30011;
inline constexpr ULONG kTracePcPropertyRefused = 0x30012;
