// Small helpers shared by the playback packet builders.
#pragma once

#include "bus_timing.h"
#include "kernel_mode.h"
#include "playback_pacing.h"
#include "usb/usb.h"

inline BOOLEAN IsoShapeUsable(const IsoStreamShape& shape) {
  return shape.bytesPerFrame != 0 && shape.serviceInterval != 0;
}

// High-speed transfers cover whole milliseconds: packets come in groups of 8 / interval.
inline ULONG PacketsPerMillisecond(const IsoStreamShape& shape) {
  return PacketsPerMillisecond(shape.highSpeed, shape.serviceInterval);
}

inline ULONG RoundUpToMultiple(ULONG value, ULONG multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

inline ULONG MinUlong(ULONG a, ULONG b) {
  return a < b ? a : b;
}

// The second phase must have room for what the first phase counted.
BOOLEAN PacketArrayFits(ULONG count, ULONG capacity);

// Packets [from, count) carry nothing: they start where the data ended.
VOID ClearTrailingPackets(PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG from, ULONG count,
                          ULONG offset);
