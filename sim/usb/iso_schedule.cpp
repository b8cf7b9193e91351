// Isochronous scheduling as a host controller does it. An ASAP URB continues where the last
// one on its pipe ended, or starts a few frames ahead when the pipe's stream has not begun
// (or was aborted or reset); packets whose (micro)frame has passed by submission time are not
// sent. Transactions are played to the device lazily, in bus-time order, whenever time has
// passed and something needs the bus.
#include <algorithm>
#include <cstring>

#include "sim/usb/host_controller.h"
#include "sim/usb/pending_urb.h"
#include "usb/usb_trace.h"

namespace sim::usb {
namespace {

constexpr uint64_t kAsapLeadFrames = 3;
constexpr ULONG kMaxPackets = 1024;

// Bytes a packet may occupy: up to the next packet's offset, or to the buffer's end.
ULONG PacketRoom(const struct _URB_ISOCH_TRANSFER& iso, ULONG k) {
  const ULONG end =
      k + 1 < iso.NumberOfPackets ? iso.IsoPacket[k + 1].Offset : iso.TransferBufferLength;
  return end - iso.IsoPacket[k].Offset;
}

bool IsIn(const PipeState& pipe) {
  return (pipe.address & 0x80) != 0;
}

}  // namespace

NTSTATUS HostController::Isochronous(PURB urb, UrbCompletion completion, void* context) {
  auto& iso = urb->UrbIsochronousTransfer;
  if (urb->UrbHeader.Length < GET_ISO_URB_SIZE(1)) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  PipeState* pipe = pipes_.Find(iso.PipeHandle);
  if (pipe == nullptr || pipe->type != UsbdPipeTypeIsochronous) {
    return Refuse(urb, USBD_STATUS_INVALID_PIPE_HANDLE, STATUS_INVALID_PARAMETER);
  }
  if (iso.NumberOfPackets == 0 || iso.NumberOfPackets > kMaxPackets ||
      urb->UrbHeader.Length < GET_ISO_URB_SIZE(static_cast<SIZE_T>(iso.NumberOfPackets))) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  // The data is where the buffer says, or where the MDL maps; an MDL must describe the whole
  // transfer.
  auto* data = static_cast<uint8_t*>(iso.TransferBuffer);
  if (data == nullptr && iso.TransferBufferMDL != nullptr &&
      MmGetMdlByteCount(iso.TransferBufferMDL) >= iso.TransferBufferLength) {
    data = static_cast<uint8_t*>(
        MmGetSystemAddressForMdlSafe(iso.TransferBufferMDL, NormalPagePriority));
  }
  if (data == nullptr) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  const bool in = IsIn(*pipe);
  if (USBD_TRANSFER_DIRECTION_FLAG(iso.TransferFlags) != (in ? USBD_TRANSFER_DIRECTION_IN : 0)) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  // Offsets rise and stay inside the buffer; the bytes between consecutive offsets are one
  // packet and must fit the endpoint's (micro)frame capacity.
  for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
    const ULONG offset = iso.IsoPacket[k].Offset;
    const ULONG limit =
        k + 1 < iso.NumberOfPackets ? iso.IsoPacket[k + 1].Offset : iso.TransferBufferLength;
    if (offset > limit || limit > iso.TransferBufferLength) {
      return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
    }
    if (!in && limit - offset > pipe->capacity) {
      TRACE_POINT(kTraceUsbIsoOverCapacity, pipe->address, k, limit - offset);
      return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
    }
  }

  const uint64_t now = NowTick();
  const uint64_t ticksPerFrame = speed_ == UsbSpeed::High ? 8 : 1;
  uint64_t start;
  if ((iso.TransferFlags & USBD_START_ISO_TRANSFER_ASAP) != 0) {
    start =
        pipe->scheduled ? pipe->nextTick : (now / ticksPerFrame + kAsapLeadFrames) * ticksPerFrame;
  } else {
    const uint64_t frame = now / ticksPerFrame;
    if (iso.StartFrame <= frame || iso.StartFrame > frame + USBD_ISO_START_FRAME_RANGE) {
      return Refuse(urb, USBD_STATUS_BAD_START_FRAME, STATUS_UNSUCCESSFUL);
    }
    start = uint64_t{iso.StartFrame} * ticksPerFrame;
  }
  pipe->scheduled = true;
  pipe->nextTick = start + iso.NumberOfPackets * pipe->intervalTicks;

  ULONG late = 0;
  for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
    USBD_ISO_PACKET_DESCRIPTOR& packet = iso.IsoPacket[k];
    packet.Status = USBD_STATUS_SUCCESS;
    if (in) packet.Length = 0;
    // A (micro)frame that begins at this very instant is still ahead of the controller.
    if (start + k * pipe->intervalTicks < now) {
      packet.Status = USBD_STATUS_ISO_NOT_ACCESSED_LATE;
      ++late;
    }
  }
  if (late != 0) TRACE_POINT(kTraceUsbIsoLate, pipe->address, late);
  iso.StartFrame = static_cast<ULONG>(start / ticksPerFrame);
  iso.ErrorCount = 0;
  Accept(urb, completion, context, pipe, pipe->nextTick, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
  Pending* p = pending_.back();
  p->isochronous = true;
  p->data = data;
  p->startTick = start;
  p->intervalTicks = pipe->intervalTicks;
  return STATUS_PENDING;
}

void HostController::PlayUntil(uint64_t tick) {
  if (device_ == nullptr || gone_) return;
  for (; playedTick_ < tick; ++playedTick_) {
    const uint64_t t = playedTick_;
    const bool lost = faults_.BusLost(t);
    if (!lost) device_->StartOfFrame(Time(t));
    for (Pending* p : pending_) {
      if (!p->isochronous || p->cancelled) continue;
      const auto& iso = p->urb->UrbIsochronousTransfer;
      while (p->nextPacket < iso.NumberOfPackets &&
             p->startTick + p->nextPacket * p->intervalTicks == t) {
        if (lost) {
          p->urb->UrbIsochronousTransfer.IsoPacket[p->nextPacket].Status =
              USBD_STATUS_ISO_NOT_ACCESSED_BY_HW;
        } else {
          PlayPacket(*p, p->nextPacket, t);
        }
        ++p->nextPacket;
      }
    }
  }
}

void HostController::PlayPacket(Pending& p, ULONG k, uint64_t tick) {
  auto& iso = p.urb->UrbIsochronousTransfer;
  USBD_ISO_PACKET_DESCRIPTOR& packet = iso.IsoPacket[k];
  if (packet.Status == USBD_STATUS_ISO_NOT_ACCESSED_LATE) return;
  const PipeState& pipe = *p.pipe;
  uint8_t* bytes = p.data + packet.Offset;
  const ULONG room = PacketRoom(iso, k);
  if (faults_.stalledEndpoints.count(pipe.address) != 0) {
    packet.Status = USBD_STATUS_STALL_PID;
    return;
  }
  auto drop = faults_.dropEveryNth.find(pipe.address);
  const bool dropped = drop != faults_.dropEveryNth.end() && drop->second != 0 &&
                       ++droppedCounter_[pipe.address] % drop->second == 0;
  if (!IsIn(pipe)) {
    // An OUT packet has no handshake: a lost one is simply not seen by the device.
    if (dropped) return;
    if (device_->IsoOut(Time(tick), pipe.address, {bytes, room}) == devices::IsoStatus::Babble) {
      packet.Status = USBD_STATUS_BABBLE_DETECTED;
    }
    return;
  }
  // One buffer for every IN transaction: streaming allocates nothing per packet.
  std::vector<uint8_t>& scratch = inScratch_;
  scratch.resize(pipe.capacity);
  devices::IsoInResult result = device_->IsoIn(Time(tick), pipe.address, scratch);
  if (dropped || result.status != devices::IsoStatus::Ok) {
    packet.Status = USBD_STATUS_XACT_ERROR;
    return;
  }
  size_t length = std::min<size_t>(result.length, pipe.capacity);
  auto shorten = faults_.shortenBy.find(pipe.address);
  if (shorten != faults_.shortenBy.end())
    length = length > shorten->second ? length - shorten->second : 0;
  auto offset = faults_.feedbackOffset.find(pipe.address);
  if (offset != faults_.feedbackOffset.end() && length >= 3) {
    uint32_t value = 0;
    std::memcpy(&value, scratch.data(), std::min<size_t>(length, 4));
    value += static_cast<uint32_t>(offset->second);
    std::memcpy(scratch.data(), &value, std::min<size_t>(length, 4));
  }
  if (length > room) {
    // More data than the client left room for: the controller reports an overrun.
    packet.Status = USBD_STATUS_BUFFER_OVERRUN;
    length = room;
  }
  std::memcpy(bytes, scratch.data(), length);
  packet.Length = static_cast<ULONG>(length);
}

void HostController::Finish(Pending* p) {
  if (!p->isochronous) return;
  auto& iso = p->urb->UrbIsochronousTransfer;
  ULONG errors = 0;
  bool late = false;
  ULONG received = 0;
  for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
    USBD_ISO_PACKET_DESCRIPTOR& packet = iso.IsoPacket[k];
    if (k >= p->nextPacket && packet.Status == USBD_STATUS_SUCCESS && p->cancelled) {
      packet.Status = p->usbd;  // never reached the bus
    }
    if (!USBD_SUCCESS(packet.Status)) ++errors;
    if (packet.Status == USBD_STATUS_ISO_NOT_ACCESSED_LATE) late = true;
    received += packet.Length;
  }
  iso.ErrorCount = errors;
  if (IsIn(*p->pipe)) {
    iso.TransferBufferLength = received;
  } else if (auto shortOut = faults_.shortOutTransfers.find(p->pipe->address);
             shortOut != faults_.shortOutTransfers.end()) {
    iso.TransferBufferLength -= std::min<ULONG>(shortOut->second, iso.TransferBufferLength);
  }
  if (p->cancelled) return;
  if (late || errors == iso.NumberOfPackets) {
    p->status = STATUS_UNSUCCESSFUL;
    p->usbd = USBD_STATUS_ISOCH_REQUEST_FAILED;
  }
}

}  // namespace sim::usb
