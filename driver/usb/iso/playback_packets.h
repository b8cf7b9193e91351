// Lays a playback transfer of A bytes out as isochronous packets, in two phases: called with no
// packet array it only counts the packets (so the caller can allocate a URB of that size);
// called with the array it fills offsets and lengths and advances the pacing state (the
// feedback accumulator or the pattern position). Integer arithmetic only, no allocation.
#pragma once

#include "kernel_mode.h"
#include "playback_pacing.h"
#include "usb/usb.h"

// Returns the packet count, or 0 when the transfer cannot be laid out (a shape without frame
// bytes or interval, no pattern, feedback too low to cover A within kIsoMaxPackets, or a packet
// array smaller than the count).
ULONG BuildPlaybackPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                           ULONG milliseconds, PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG capacity);

// The three modes, for callers that know theirs.
ULONG BuildImplicitFeedbackPackets(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                                   ULONG bytes, ULONG milliseconds,
                                   PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG capacity);
ULONG BuildExplicitFeedbackPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                                   PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG capacity);
ULONG BuildRatePatternPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                              PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG capacity);

// Rate pattern mode pieces the length-header layout shares.
BOOLEAN RatePatternUsable(const IsoStreamShape& shape, const PlaybackPacing& pacing);
ULONG CountRatePatternPackets(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                              ULONG bytes);
