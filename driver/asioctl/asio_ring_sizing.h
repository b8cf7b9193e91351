// How large the rings of a prepared ASIO stream are. The capture side paces the stream, so with
// capture the rings hold three periods of at least 768 frames, and the playback ring 768 frames
// more to absorb the output thread's lag; playback alone needs three periods of at least one
// playback transfer.
#pragma once

#include "asio_protocol.h"
#include "kernel_mode.h"

// Frames of each ring; 0 where the direction is not wanted. Sums are 64 bits wide: the period
// comes from the client and may be anything.
struct AsioRingFrames {
  ULONGLONG capture;
  ULONGLONG playback;
};

AsioRingFrames SizeAsioRings(ULONG periodFrames, ULONG sampleRate, ULONG transferMs,
                             BOOLEAN captureWanted, BOOLEAN playbackWanted);

// The data area and the whole block (header and data rounded up to pages) of a ring of `frames`
// frames. STATUS_INVALID_PARAMETER when the data area could not be counted by the header's signed
// fill count, or the frame size is 0.
NTSTATUS SizeAsioRingBlock(ULONGLONG frames, ULONG frameBytes, ULONG* ringBytes,
                           ULONG* blockBytes);
