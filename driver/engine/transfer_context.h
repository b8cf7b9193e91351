// The record of one isochronous transfer between the transfer workers, the transfer engine and
// the playback engines. Playback contexts live from a worker's start to its end and circulate
// between the free list and the bus; capture contexts come from the look-aside list per
// transfer and keep their buffer while the pipeline resubmits them.
#pragma once

#include "kernel_mode.h"
#include "playback_pacing.h"

class CStreamEngine;

// Each playback engine keeps the transfers it writes into on a list of its own.
inline constexpr ULONG kPlaybackEngineCount = 2;

struct TransferContext {
  PUCHAR Buffer;
  PMDL Mdl;
  ULONG RequestedBytes;
  ULONG StartFrame;
  ULONG BusFrame;  // at completion
  NTSTATUS Status;
  ULONG BytesTransferred;
  ULONG Count;  // milliseconds the completed packets spanned
  CStreamEngine* Engine;
  ULONG FeedbackUsed;
  LIST_ENTRY FreeLink;                            // free playback list, completed capture list
  LIST_ENTRY EngineLinks[kPlaybackEngineCount];  // each playback engine's pending list
  PIO_WORKITEM WorkItem;
  ULONG IndexAndFlags;  // index in bits 0-7, in flight in bit 8
  // Controller workaround: the pacing the transfer was sized from when it was handed to the
  // playback engines, ahead of its submission.
  PlaybackPacing Pacing;
};

inline constexpr ULONG kContextInFlight = 0x100;
// A feedback read rather than a playback transfer (both resubmit through a work item).
inline constexpr ULONG kContextFeedback = 0x200;

// Playback contexts of one worker: the transfers in flight, or twice that and one with the
// controller workaround.
inline constexpr ULONG kMaxPlaybackContexts = 17;
