// What a completed transfer reports to its caller's callback. The completion routines of the
// transfer engine read the URB with these and add the check of capture packet sizes, the
// freeing and the IRP's return.
#pragma once

#include "capture_completion.h"
#include "kernel_mode.h"
#include "usb/usb.h"

// What the completion needs to know of the request beyond its URB.
struct TransferFacts {
  BOOLEAN highSpeed;
  USHORT bcdUSB;
  UCHAR pipeInterval;
  ULONG submittedBytes;  // the buffer size the request went out with
  // Set when a length-header buffer replaced the caller's: the audio bytes it carried, which is
  // what the caller asked to send.
  ULONG callerBytes;
  BOOLEAN separateBuffer;
};

struct TransferConclusion {
  NTSTATUS status;
  ULONG bytes;
  ULONG startFrame;
  ULONG durationMs;
};

TransferConclusion ConcludeTransfer(NTSTATUS irpStatus, PURB urb, const TransferFacts& facts);

struct FeedbackConclusion {
  NTSTATUS status;
  ULONG average;
  ULONG startFrame;
};

// A completed feedback read; buffer is where its packets are (the transfer buffer, or the
// mapped MDL), bufferBytes its size. lastRaw carries the last value between reads.
FeedbackConclusion ConcludeFeedbackRead(NTSTATUS irpStatus, PURB urb, const UCHAR* buffer,
                                        ULONG bufferBytes, ULONG& lastRaw);
