// How the transfer workers size and pace their isochronous transfers. The values are driver-wide:
// set at load, adjusted by each device's initialisation (the AMD workaround, playback-only
// devices) and read by the workers when a direction opens.
#pragma once

#include "kernel_mode.h"

struct TransferSettings {
  ULONG PlaybackTransferMs;
  ULONG CaptureTransferMs;
  ULONG PlaybackTransfersInFlight;
  ULONG CaptureTransfersInFlight;
  // 0xFFFFFFFE: every playback transfer's bytes also go to the trace log.
  ULONG DumpCapture;
};

extern TransferSettings g_TransferSettings;

// 1 ms transfers, 8 in flight each way, no dump.
VOID ResetTransferSettings();
