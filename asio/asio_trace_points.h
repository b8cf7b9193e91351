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
inline constexpr ULONG kTraceInitRefused = 0x8203;
inline constexpr ULONG kTraceHostResetRequested = 0x8204;
inline constexpr ULONG kTraceNoLatency = 0x8205;
inline constexpr ULONG kTraceChannelOutOfRange = 0x8206;
inline constexpr ULONG kTraceChannelOverlapped = 0x8207;
inline constexpr ULONG kTraceInvalidBufferSize = 0x8208;
inline constexpr ULONG kTraceCreateBuffersFailed = 0x8209;

// The control panel.
inline constexpr ULONG kTraceCplStartFailed = 0x8301;
inline constexpr ULONG kTraceCplDeviceQueryFailed = 0x8302;
inline constexpr ULONG kTraceCplSetRateFailed = 0x8303;
inline constexpr ULONG kTraceCplWatcherFailed = 0x8304;
inline constexpr ULONG kTraceCplWaitFailed = 0x8305;
inline constexpr ULONG kTraceCplLogoFailed = 0x8306;

// Streaming.
inline constexpr ULONG kTraceStreamStartFailed = 0x8401;
inline constexpr ULONG kTraceStreamThreadStuck = 0x8402;
inline constexpr ULONG kTraceStreamRestarted = 0x8403;
inline constexpr ULONG kTraceStreamBrokenOff = 0x8404;
inline constexpr ULONG kTraceStreamWaitFailed = 0x8405;
inline constexpr ULONG kTraceOutputWriteFailed = 0x8406;
inline constexpr ULONG kTraceSuspendResume = 0x8407;

// The COM server.
inline constexpr ULONG kTraceSecondDriverObject = 0x8501;
inline constexpr ULONG kTraceRegistrationFailed = 0x8502;
inline constexpr ULONG kTraceRegistrationWriteFailed = 0x8503;
