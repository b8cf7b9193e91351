// Which class-specific descriptors the device model reads, and what each must hold before any of
// its fields is looked at: one table, applied once as the walks meet each descriptor. A
// descriptor that fails is treated as absent (or, for the HEADER, refuses the function).
#pragma once

#include "kernel_mode.h"

// Where a class-specific descriptor stands: which subtype numbering it follows.
enum class AudioDescriptorPlace : UCHAR {
  Control,    // CS_INTERFACE of the audio control interface
  Streaming,  // CS_INTERFACE of an audio streaming interface
  Endpoint,   // CS_ENDPOINT after a streaming data endpoint
};

// Is the descriptor long enough for everything the model reads of it under this class version?
// The caller has made sure that bLength bytes lie inside the configuration copy. A subtype the
// table has no row for needs its subtype byte, and in the audio control interface its ID.
BOOLEAN IsAudioDescriptorValid(AudioDescriptorPlace place, const UCHAR* descriptor, BOOLEAN uac2);
