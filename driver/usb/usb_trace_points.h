// Trace point numbers of the driver's USB function layer and its support routines (0x4100
// block). Arguments are listed beside each.
#pragma once

#include "common_trace_points.h"  // 0x4101
#include "kernel_mode.h"

inline constexpr ULONG kTraceBoundedCopyRefused = 0x4102;  // bytes, capacity
inline constexpr ULONG kTraceRundownUnbalancedRelease = 0x4103;
inline constexpr ULONG kTraceUnknownOverReleased = 0x4104;         // count
inline constexpr ULONG kTraceRegistryOpenFailed = 0x4110;          // status
inline constexpr ULONG kTraceRegistryQueryFailed = 0x4111;         // status or size, sizes
inline constexpr ULONG kTraceRegistryValueMismatch = 0x4112;       // type, size, wanted type, size
inline constexpr ULONG kTraceRegistryWriteFailed = 0x4113;         // status
inline constexpr ULONG kTraceRequestContextListFailed = 0x4120;    // status
inline constexpr ULONG kTraceIrpPoolAllocationFailed = 0x4121;     // index, count
inline constexpr ULONG kTraceUsbdHandleFailed = 0x4122;            // status
inline constexpr ULONG kTraceStartFunctionFailed = 0x4123;         // status
inline constexpr ULONG kTraceBusInterfaceFailed = 0x4124;          // status
inline constexpr ULONG kTraceDescriptorReadFailed = 0x4130;        // type, index, status
inline constexpr ULONG kTraceDescriptorLengthMismatch = 0x4131;    // type, received, length
inline constexpr ULONG kTraceStringRequestRefused = 0x4132;        // index, language id
inline constexpr ULONG kTraceNoStringDescriptors = 0x4133;         // status, bytes received
inline constexpr ULONG kTraceNoInterfaces = 0x4140;                // bNumInterfaces
inline constexpr ULONG kTraceDuplicateInterface = 0x4141;          // interface number
inline constexpr ULONG kTraceInterfaceCountMismatch = 0x4142;      // found, bNumInterfaces
inline constexpr ULONG kTraceConfigurationRequestFailed = 0x4143;  // status
inline constexpr ULONG kTraceInterfaceRecordInvalid = 0x4144;      // list position
inline constexpr ULONG kTraceSelectAlternateUnknown = 0x4145;      // interface, setting
inline constexpr ULONG kTraceSelectAlternateFailed = 0x4146;       // interface, setting, status
inline constexpr ULONG kTraceUrbFailed = 0x4150;                   // function, status, USBD status
inline constexpr ULONG kTraceControlRequestRefused = 0x4151;    // bmRequestType, bRequest, wLength
inline constexpr ULONG kTracePipeRequestAtRaisedIrql = 0x4152;  // function, IRQL
inline constexpr ULONG kTraceControllerNameFailed = 0x4160;     // status, length
inline constexpr ULONG kTraceControllerOpenFailed = 0x4161;     // status
inline constexpr ULONG kTraceControllerInfoFailed = 0x4162;     // status, bytes, user status
