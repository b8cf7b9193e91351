// The ASIO buffer sizes: one table of 128 entries, indexed by the "buffer_size_index" setting,
// that the ASIO driver and the control panel share. The host gets exactly the entry the user
// chose, scaled to the device rate so that it stays the same length in time.
#pragma once

#include "user_mode.h"

inline constexpr ULONG kBufferSizeEntries = 128;

// Frames of entry index at the device rate (the DSD bit rate / 32 in DSD); 0 for an index
// beyond the table and for a rate that is no multiple of 44100 or 48000 (from 44100 on).
ULONG BufferSizeFrames(ULONG index, ULONG deviceRate);
