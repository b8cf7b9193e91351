// Trace point numbers of the isochronous scheduler and transfer engine (0x4700 block).
// Arguments are listed beside each.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceIsoShapeInvalid = 0x4701;             // bytes per frame, interval
inline constexpr ULONG kTraceIsoPacketLimit = 0x4702;              // bytes, packets counted
inline constexpr ULONG kTraceIsoPacketArrayShort = 0x4703;         // packets, capacity
inline constexpr ULONG kTraceIsoNoPattern = 0x4704;                // pattern length
inline constexpr ULONG kTraceIsoHeaderBufferFull = 0x4705;         // packet, packets
inline constexpr ULONG kTraceFeedbackPacketOutside = 0x4710;       // packet, offset, length
inline constexpr ULONG kTraceFeedbackPacketLength = 0x4711;        // packet, length
inline constexpr ULONG kTraceCapturePacketClamped = 0x4720;        // packet, offset, length, kept
inline constexpr ULONG kTraceCaptureWindowMissing = 0x4721;        // packets
inline constexpr ULONG kTraceCapturePacketOutsideWindow = 0x4722;  // packet, length, min, max
inline constexpr ULONG kTraceIsoZeroBytes = 0x4730;                // endpoint
inline constexpr ULONG kTraceIsoIntervalUnusual = 0x4731;          // endpoint, interval
inline constexpr ULONG kTraceIsoTransferFailed = 0x4740;    // IRP, USBD status, frame, packets,
                                                            // errors, length, flags
inline constexpr ULONG kTraceIsoPacketFailed = 0x4741;      // packet, offset, length, status
inline constexpr ULONG kTraceBulkTransferFailed = 0x4742;   // IRP status, USBD status
inline constexpr ULONG kTraceIsoPipeMissing = 0x4750;       // direction
inline constexpr ULONG kTraceIsoInterfaceMissing = 0x4751;  // direction
inline constexpr ULONG kTraceIsoNoBuffer = 0x4752;          // endpoint or bytes described, bytes
inline constexpr ULONG kTraceIsoNoLayout = 0x4753;          // bytes, milliseconds or packet size
inline constexpr ULONG kTraceIsoLengthHeaderWithFeedback = 0x4754;  // endpoint
inline constexpr ULONG kTraceIsoMappingFailed = 0x4755;             // bytes
inline constexpr ULONG kTraceIsoNoIrp = 0x4756;                     // endpoint
inline constexpr ULONG kTraceIsoCompletionWithoutRequest = 0x4760;  // IRP status
inline constexpr ULONG kTraceIsoBadStartFrame = 0x4761;  // URB start frame, current frame
