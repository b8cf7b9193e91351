// The per-request record of an asynchronous USB transfer. It travels with the IRP from
// submission to the completion routine, so the transfer engine keeps no queue of its own; the
// records come from the USB function's look-aside list and go back there at completion.
#pragma once

#include "kernel_mode.h"

class CIsoTransferEngine;

// Reports a finished transfer: its status, the bytes moved, the bus frame it started in (0
// after a failure), the caller's context and the time its packets span in milliseconds. Runs
// at DISPATCH_LEVEL and must not block.
typedef VOID (*PUSB_TRANSFER_CALLBACK)(NTSTATUS status, ULONG bytes, ULONG startFrame,
                                       PVOID callbackContext, ULONG durationMs);

struct USBRequestContext {
  PURB urb;
  PUSBD_PIPE_INFORMATION pipe;
  PUSB_TRANSFER_CALLBACK callback;
  PVOID callbackContext;
  CIsoTransferEngine* owner;  // the engine whose completion routine reports the request
  PVOID separateBuffer;
  ULONG separateBufferSize;
  // What the completion needs of the submission, kept here because the URB no longer says it:
  // the controller rewrites an IN request's TransferBufferLength with what it received, and a
  // length-header request sends more than the caller's audio. The pipe's interval is copied
  // so a completion never reads pipe information that a later alternate setting replaced.
  ULONG requestedBytes;
  UCHAR pipeInterval;
  ULONG urbPackets;  // packet capacity of an isochronous URB, which goes back to the cache
};
