// An isochronous URB with its own buffer, packets laid out back to back.
#pragma once

#include <vector>

#include "usb/usb.h"

namespace sim::usb::testing {

struct IsoUrb {
  IsoUrb(USBD_PIPE_HANDLE pipe, ULONG packets, ULONG packetBytes, bool in)
      : storage(GET_ISO_URB_SIZE(packets)), buffer(packets * packetBytes) {
    PURB u = urb();
    u->UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
    u->UrbHeader.Length = static_cast<USHORT>(storage.size());
    auto& iso = u->UrbIsochronousTransfer;
    iso.PipeHandle = pipe;
    iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP | (in ? USBD_TRANSFER_DIRECTION_IN : 0);
    iso.TransferBuffer = buffer.data();
    iso.TransferBufferLength = static_cast<ULONG>(buffer.size());
    iso.NumberOfPackets = packets;
    for (ULONG k = 0; k < packets; ++k) iso.IsoPacket[k].Offset = k * packetBytes;
  }
  PURB urb() { return reinterpret_cast<PURB>(storage.data()); }
  struct _URB_ISOCH_TRANSFER& iso() {
    return urb()->UrbIsochronousTransfer;
  }

  std::vector<UCHAR> storage;
  std::vector<UCHAR> buffer;
};

}  // namespace sim::usb::testing
