// Trace point numbers of the isochronous scheduler and transfer engine (0x4700 block).
// Arguments are listed beside each.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTraceIsoShapeInvalid = 0x4701;        // bytes per frame, interval
inline constexpr ULONG kTraceIsoPacketLimit = 0x4702;         // bytes, packets counted
inline constexpr ULONG kTraceIsoPacketArrayShort = 0x4703;    // packets, capacity
inline constexpr ULONG kTraceIsoNoPattern = 0x4704;           // pattern length
inline constexpr ULONG kTraceIsoHeaderBufferFull = 0x4705;    // packet, packets
inline constexpr ULONG kTraceFeedbackPacketOutside = 0x4710;  // packet, offset, length
inline constexpr ULONG kTraceFeedbackPacketLength = 0x4711;   // packet, length
