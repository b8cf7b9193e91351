// What a completed capture request's packets leave in its buffer, checked before the data is
// handed on. The controller reports, per packet, how many bytes it wrote at the packet's
// offset; those lengths are untrusted and never move bytes outside the transfer buffer.
#pragma once

#include "kernel_mode.h"
#include "usb/usb.h"

struct CaptureCompaction {
  ULONG bytes;          // received bytes, now contiguous from the start of the buffer
  ULONG failedPackets;  // packets whose offset or length did not fit their slot
};

// Packs the received data to the front of the buffer, in packet order; regions may overlap. A
// packet's slot reaches to the next packet's offset (the last one's to the end of the buffer);
// a length beyond its slot is clamped to it, an offset outside the buffer or behind the data
// already packed carries nothing, and both count as failed packets. Packet lengths are updated
// to the bytes kept.
CaptureCompaction CompactCapturePackets(PUCHAR buffer, ULONG bufferBytes,
                                        PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG count);

// The accepted packet sizes of the capture stream, from its format.
struct CapturePacketWindow {
  ULONG minimumBytes;
  ULONG maximumBytes;
};

// The status a successful isochronous IN request reports: a packet outside the window turns
// it into STATUS_UNEXPECTED_IO_ERROR. Other requests keep their status; without a window only
// a trace point is left.
NTSTATUS ValidateCapturePackets(NTSTATUS status, const struct _URB_ISOCH_TRANSFER& urb,
                                const CapturePacketWindow* window);

struct CaptureResult {
  NTSTATUS status;
  ULONG bytes;
};

// A successful capture request, as its callback sees it: the data packed, the byte count, and
// a failed status when any packet had to be clamped (its data is still delivered and counted).
// bufferBytes is the size the request was submitted with. The packet sizes are checked against
// the window afterwards, on the lengths kept.
CaptureResult FinishCaptureTransfer(NTSTATUS status, struct _URB_ISOCH_TRANSFER& urb,
                                    ULONG bufferBytes);
