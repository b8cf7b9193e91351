// Trace point numbers of the USB stack (0x5500 block) and the codes it passes with verifier
// bug checks.
#pragma once

#include "kernel/ntdef.h"

inline constexpr ULONG kTraceUsbdUrbAllocationFailed = 0x5501;
inline constexpr ULONG kTraceUsbdUnknownContract = 0x5502;
inline constexpr ULONG kTraceUsbdHandleClosedWithUrbs = 0x5503;
inline constexpr ULONG kTraceUsbUrbRejected = 0x5510;      // function, USBD status
inline constexpr ULONG kTraceUsbControlStalled = 0x5511;   // bmRequestType, bRequest, wValue
inline constexpr ULONG kTraceUsbIsoLate = 0x5512;          // pipe address, late packets
inline constexpr ULONG kTraceUsbIsoOverCapacity = 0x5513;  // pipe address, packet, length
inline constexpr ULONG kTraceUsbDeviceGone = 0x5514;       // function

// First parameter of DRIVER_VERIFIER_DETECTED_VIOLATION raised by the USB stack.
inline constexpr ULONG_PTR kVerifierBadUsbdHandle = 0x5580;
inline constexpr ULONG_PTR kVerifierBadUsbdUrbFree = 0x5581;
