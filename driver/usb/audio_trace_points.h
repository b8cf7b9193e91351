// Trace point numbers of the USB audio device model, its class requests and format selection
// (0x4200 block). Arguments are listed beside each.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceAudioControlMissing = 0x4201;       // audio class code
inline constexpr ULONG kTraceAudioHeaderInvalid = 0x4202;        // bLength, type, subtype
inline constexpr ULONG kTraceAudioBlockBounded = 0x4203;         // wTotalLength, room
inline constexpr ULONG kTraceEntityMalformed = 0x4204;           // subtype, bLength
inline constexpr ULONG kTraceEntityWalkStopped = 0x4205;         // subtype
inline constexpr ULONG kTraceEntityDump = 0x4206;                // bLength, type, subtype, id
inline constexpr ULONG kTraceEntityLinkFailed = 0x4207;          // id, status
inline constexpr ULONG kTraceStreamingInterfaceFailed = 0x4208;  // interface, status
inline constexpr ULONG kTraceTerminalLinkMissing = 0x4209;       // interface, bTerminalLink
inline constexpr ULONG kTraceEndpointExamined = 0x420A;  // address, transfer, sync, usage, interval
inline constexpr ULONG kTraceUnusableFeedback = 0x420B;  // address, interval
inline constexpr ULONG kTraceSynchAddressMismatch = 0x420C;  // data bLength, bSynchAddress, address
inline constexpr ULONG kTraceModelReady = 0x420D;  // uac2, streaming interfaces, entities, pairing
inline constexpr ULONG kTraceConfigureFailed = 0x420E;        // step, status
inline constexpr ULONG kTracePipeMissing = 0x420F;            // interface, endpoint address
inline constexpr ULONG kTraceFeatureRequestRefused = 0x4220;  // unit, channel, control, request
inline constexpr ULONG kTraceRangeTooLarge = 0x4221;          // clock, subranges
inline constexpr ULONG kTraceRequestFailed = 0x4222;          // bRequest, wValue, wIndex, status
inline constexpr ULONG kTraceInvalidClockSelection = 0x4223;  // selector, pin
inline constexpr ULONG kTraceFormatSkipped = 0x4230;          // interface, setting, reason
inline constexpr ULONG kTraceFormatNoMatch = 0x4231;       // interface, tag, channels, bits, rate
inline constexpr ULONG kTraceFormatSelectFailed = 0x4232;  // direction, step, status
inline constexpr ULONG kTraceStreamPipeMissing = 0x4233;   // direction
