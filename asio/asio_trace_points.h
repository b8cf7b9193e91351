// Trace point numbers of the ASIO driver and the control panel.
#pragma once

#include "user_mode.h"

// Settings.
inline constexpr ULONG kTraceSettingsOpenFailed = 0x8001;
inline constexpr ULONG kTraceSettingsReadFailed = 0x8002;
inline constexpr ULONG kTraceSettingsWrongType = 0x8003;
inline constexpr ULONG kTraceSettingsWriteFailed = 0x8004;
inline constexpr ULONG kTraceSettingsCreateFailed = 0x8005;
inline constexpr ULONG kTraceSettingsBadRequest = 0x8006;
inline constexpr ULONG kTraceSettingsEventFailed = 0x8007;
inline constexpr ULONG kTraceSettingsWaitFailed = 0x8008;
inline constexpr ULONG kTraceControlPanelMissing = 0x8009;
inline constexpr ULONG kTraceControlPanelStartFailed = 0x800A;

// Devices.
inline constexpr ULONG kTraceDiscoveryFailed = 0x8101;
inline constexpr ULONG kTraceDeviceDropped = 0x8102;
inline constexpr ULONG kTraceDeviceOpenFailed = 0x8103;
inline constexpr ULONG kTraceDeviceRequestFailed = 0x8104;
inline constexpr ULONG kTraceDeviceLoadFailed = 0x8105;
inline constexpr ULONG kTraceSelectionFailed = 0x8106;
inline constexpr ULONG kTracePowerWaitFailed = 0x8107;
inline constexpr ULONG kTraceDeviceWatchFailed = 0x8108;

// The driver object.
inline constexpr ULONG kTraceAsioCallFailed = 0x8201;
inline constexpr ULONG kTraceRateRefused = 0x8202;

// The control panel.
inline constexpr ULONG kTraceCplStartFailed = 0x8301;
inline constexpr ULONG kTraceCplDeviceQueryFailed = 0x8302;
inline constexpr ULONG kTraceCplSetRateFailed = 0x8303;
inline constexpr ULONG kTraceCplWatcherFailed = 0x8304;
inline constexpr ULONG kTraceCplWaitFailed = 0x8305;
inline constexpr ULONG kTraceCplLogoFailed = 0x8306;
