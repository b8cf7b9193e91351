// The length-header layout of devices whose playback packets start with their own length: each
// packet is a 32-bit little-endian byte count followed by that many audio bytes, one pattern
// entry per packet. The packets are built in a separate buffer that replaces the caller's in
// the request.
#pragma once

#include "kernel_mode.h"
#include "playback_pacing.h"
#include "usb/usb.h"

inline constexpr ULONG kLengthHeaderBytes = 4;
// "BPMT": the bytes read in that order in a pool dump.
inline constexpr ULONG kLengthHeaderPoolTag = 0x544D5042;

// Size of the separate buffer for `bytes` of audio in `packets` packets; 0 when it would not fit
// in 32 bits.
ULONG LengthHeaderBufferBytes(ULONG bytes, ULONG packets);

// Writes `count` packets (fewer when the buffer fills up) into buffer and packets, advancing the
// pattern position by one per packet. Returns the bytes written, which is what the request
// sends.
ULONG BuildLengthHeaderPackets(const IsoStreamShape& shape, PlaybackPacing& pacing,
                               const UCHAR* audio, ULONG bytes, PUCHAR buffer, ULONG bufferBytes,
                               PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG count);
