#include "iso_transfer_urb.h"

#include "bus_timing.h"
#include "iso_trace_points.h"

ULONG PipeTransferPacketCount(const USBD_PIPE_INFORMATION& pipe, ULONG bytes, BOOLEAN highSpeed) {
  const ULONG maxPacket = pipe.MaximumPacketSize;
  if (maxPacket == 0) {
    return 0;
  }
  if (bytes == 0) {
    TRACE_POINT(kTraceIsoZeroBytes, pipe.EndpointAddress);
  }
  ULONG packets = static_cast<ULONG>((static_cast<ULONGLONG>(bytes) + maxPacket - 1) / maxPacket);
  if (highSpeed) {
    if (pipe.Interval >= 1 && pipe.Interval <= 4) {
      const ULONG perMs = PacketsPerMillisecond(TRUE, 1u << (pipe.Interval - 1));
      packets = (packets + perMs - 1) / perMs * perMs;
    } else if (pipe.Interval > 4) {
      TRACE_POINT(kTraceIsoIntervalUnusual, pipe.EndpointAddress, pipe.Interval);
    }
  } else if (pipe.Interval > 15) {
    TRACE_POINT(kTraceIsoIntervalUnusual, pipe.EndpointAddress, pipe.Interval);
  }
  return packets;
}

ULONG FeedbackReadPacketCount(const USBD_PIPE_INFORMATION& pipe, ULONG bytes) {
  const ULONG maxPacket = pipe.MaximumPacketSize;
  if (maxPacket == 0) {
    return 0;
  }
  return bytes <= maxPacket ? 1 : (bytes + maxPacket - 1) / maxPacket;
}

ULONG FeedbackBufferSize(const USBD_PIPE_INFORMATION* feedbackPipe, BOOLEAN highSpeed) {
  if (feedbackPipe == nullptr) {
    return 0;
  }
  ULONG size = ULONG{feedbackPipe->MaximumPacketSize} * 4;
  if (highSpeed) {
    // Intervals are normalised to 1..4 when the pipes are linked.
    const ULONG interval = feedbackPipe->Interval == 0 ? 1 : feedbackPipe->Interval;
    size <<= interval < 4 ? 4 - interval : 0;
  }
  return size;
}

VOID FillPipeIsochUrb(struct _URB_ISOCH_TRANSFER& urb, const USBD_PIPE_INFORMATION& pipe,
                      PVOID buffer, ULONG bytes, ULONG flags, ULONG startFrame, ULONG packets) {
  urb.PipeHandle = pipe.PipeHandle;
  urb.StartFrame = startFrame;
  urb.TransferBuffer = buffer;
  urb.TransferBufferMDL = nullptr;
  urb.TransferFlags = flags & 0xFF;
  urb.TransferBufferLength = bytes;
  urb.NumberOfPackets = packets;
  const BOOLEAN in = USBD_TRANSFER_DIRECTION_FLAG(flags) == USBD_TRANSFER_DIRECTION_IN;
  for (ULONG k = 0; k < packets; ++k) {
    // Packets rounded up to a whole millisecond have no room left in the buffer: they start
    // at its end rather than past it.
    const ULONGLONG slot = ULONGLONG{k} * pipe.MaximumPacketSize;
    const ULONG offset = slot < bytes ? static_cast<ULONG>(slot) : bytes;
    const ULONG left = bytes - offset;
    urb.IsoPacket[k].Offset = offset;
    urb.IsoPacket[k].Length =
        in ? 0 : (left < pipe.MaximumPacketSize ? left : pipe.MaximumPacketSize);
    urb.IsoPacket[k].Status = USBD_STATUS_SUCCESS;
  }
}

VOID FillBulkOrInterruptUrb(PURB urb, const USBD_PIPE_INFORMATION& pipe, PVOID buffer, ULONG bytes,
                            ULONG flags) {
  auto& bulk = urb->UrbBulkOrInterruptTransfer;
  bulk.Hdr.Length = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
  bulk.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
  bulk.PipeHandle = pipe.PipeHandle;
  bulk.TransferBufferLength = bytes;
  bulk.TransferBuffer = buffer;
  bulk.TransferBufferMDL = nullptr;
  bulk.UrbLink = nullptr;
  bulk.TransferFlags = flags | USBD_SHORT_TRANSFER_OK;
}

ULONG IsoTransferDurationMs(ULONG packets, UCHAR pipeInterval, USHORT bcdUSB, BOOLEAN highSpeed) {
  ULONG interval = pipeInterval;
  if (bcdUSB >= 0x0200) {
    interval = pipeInterval == 0 ? 1 : 1u << ((pipeInterval - 1) & 31);
  }
  const ULONGLONG span = ULONGLONG{packets} * interval;
  return static_cast<ULONG>(highSpeed ? (span + 7) >> 3 : span);
}
