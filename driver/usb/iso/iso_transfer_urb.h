// Building the URBs of the asynchronous transfers: packet counts per pipe and the fields of
// isochronous and bulk/interrupt requests. The URBs themselves come from the USBD library
// (isochronous) or the pool (others); these only fill them.
#pragma once

#include "kernel_mode.h"
#include "usb/usb.h"

// Capture and feedback reads: IN, started as soon as the controller can.
inline constexpr ULONG kIsoReadFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;

// Packets for `bytes` on an isochronous pipe: one per MaximumPacketSize, on a high-speed bus
// rounded up to whole milliseconds when the interval allows. 0 for a pipe without packet size.
ULONG PipeTransferPacketCount(const USBD_PIPE_INFORMATION& pipe, ULONG bytes, BOOLEAN highSpeed);

// Packets for one feedback read: a single one when the buffer fits a packet.
ULONG FeedbackReadPacketCount(const USBD_PIPE_INFORMATION& pipe, ULONG bytes);

// Bytes of one feedback read: 4 ms of feedback packets. 0 without a pipe.
ULONG FeedbackBufferSize(const USBD_PIPE_INFORMATION* feedbackPipe, BOOLEAN highSpeed);

// Fills an isochronous URB allocated for `packets` packets: packet k at k * MaximumPacketSize
// (never past the buffer); IN lengths 0, OUT lengths what the slot carries.
VOID FillPipeIsochUrb(struct _URB_ISOCH_TRANSFER& urb, const USBD_PIPE_INFORMATION& pipe,
                      PVOID buffer, ULONG bytes, ULONG flags, ULONG startFrame, ULONG packets);

// Fills a bulk or interrupt URB; short transfers are accepted.
VOID FillBulkOrInterruptUrb(PURB urb, const USBD_PIPE_INFORMATION& pipe, PVOID buffer, ULONG bytes,
                            ULONG flags);

// The time an isochronous request's packets span, in milliseconds.
ULONG IsoTransferDurationMs(ULONG packets, UCHAR pipeInterval, USHORT bcdUSB, BOOLEAN highSpeed);
