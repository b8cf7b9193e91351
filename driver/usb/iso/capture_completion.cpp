#include "capture_completion.h"

#include "iso_trace_points.h"

CaptureCompaction CompactCapturePackets(PUCHAR buffer, ULONG bufferBytes,
                                        PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG count) {
  CaptureCompaction result{0, 0};
  for (ULONG k = 0; k < count; ++k) {
    USBD_ISO_PACKET_DESCRIPTOR& packet = packets[k];
    const ULONG offset = packet.Offset;
    ULONG slotEnd = k + 1 < count ? packets[k + 1].Offset : bufferBytes;
    slotEnd = slotEnd < bufferBytes ? slotEnd : bufferBytes;
    ULONG length = packet.Length;
    if (offset > slotEnd || offset < result.bytes) {
      length = 0;
    } else if (length > slotEnd - offset) {
      length = slotEnd - offset;
    }
    if (length != packet.Length) {
      TRACE_POINT(kTraceCapturePacketClamped, k, offset, packet.Length, length);
      ++result.failedPackets;
      packet.Length = length;
    }
    if (offset != result.bytes && length != 0) {
      RtlMoveMemory(buffer + result.bytes, buffer + offset, length);
    }
    result.bytes += length;
  }
  return result;
}

NTSTATUS ValidateCapturePackets(NTSTATUS status, const struct _URB_ISOCH_TRANSFER& urb,
                                const CapturePacketWindow* window) {
  const BOOLEAN in = USBD_TRANSFER_DIRECTION_FLAG(urb.TransferFlags) == USBD_TRANSFER_DIRECTION_IN;
  if (!NT_SUCCESS(status) || !in) {
    return status;
  }
  if (window == nullptr) {
    TRACE_POINT(kTraceCaptureWindowMissing, urb.NumberOfPackets);
    return status;
  }
  for (ULONG k = 0; k < urb.NumberOfPackets; ++k) {
    const ULONG length = urb.IsoPacket[k].Length;
    if (length < window->minimumBytes || length > window->maximumBytes) {
      TRACE_POINT(kTraceCapturePacketOutsideWindow, k, length, window->minimumBytes,
                  window->maximumBytes);
      status = STATUS_UNEXPECTED_IO_ERROR;
    }
  }
  return status;
}

CaptureResult FinishCaptureTransfer(NTSTATUS status, struct _URB_ISOCH_TRANSFER& urb,
                                    ULONG bufferBytes) {
  const CaptureCompaction packed = CompactCapturePackets(
      static_cast<PUCHAR>(urb.TransferBuffer), bufferBytes, urb.IsoPacket, urb.NumberOfPackets);
  if (packed.failedPackets != 0 && NT_SUCCESS(status)) {
    status = STATUS_UNEXPECTED_IO_ERROR;
  }
  return {status, packed.bytes};
}
