#include "sim/usb/pipe_state.h"

namespace sim::usb {

PipeState* PipeTable::Open(UCHAR interfaceNumber, const USB_ENDPOINT_DESCRIPTOR& endpoint,
                           devices::UsbSpeed speed) {
  auto pipe = std::make_unique<PipeState>();
  pipe->interfaceNumber = interfaceNumber;
  pipe->address = endpoint.bEndpointAddress;
  pipe->type = static_cast<USBD_PIPE_TYPE>(endpoint.bmAttributes & 0x03);
  pipe->wMaxPacketSize = endpoint.wMaxPacketSize;
  pipe->bInterval = endpoint.bInterval;
  const ULONG base = endpoint.wMaxPacketSize & 0x7FF;
  const bool high = speed == devices::UsbSpeed::High;
  // Bits 12..11 add up to two transactions per microframe, at high speed only.
  const ULONG transactions = high ? ((endpoint.wMaxPacketSize >> 11) & 0x3) + 1 : 1;
  pipe->capacity = base * transactions;
  if (pipe->type == UsbdPipeTypeIsochronous || high) {
    // Isochronous at both speeds, and every high-speed periodic endpoint: 2^(bInterval-1).
    const UCHAR exponent =
        endpoint.bInterval == 0 ? 0 : (endpoint.bInterval > 16 ? 15 : endpoint.bInterval - 1);
    pipe->intervalTicks = uint64_t{1} << exponent;
  } else {
    pipe->intervalTicks = endpoint.bInterval == 0 ? 1 : endpoint.bInterval;
  }
  pipe->active = true;
  pipes_.push_back(std::move(pipe));
  return pipes_.back().get();
}

void PipeTable::CloseInterface(UCHAR interfaceNumber) {
  for (auto& pipe : pipes_) {
    if (pipe->interfaceNumber == interfaceNumber) pipe->active = false;
  }
}

void PipeTable::CloseAll() {
  for (auto& pipe : pipes_) pipe->active = false;
}

PipeState* PipeTable::Find(USBD_PIPE_HANDLE handle) const {
  for (const auto& pipe : pipes_) {
    if (pipe.get() == handle) return pipe->active ? pipe.get() : nullptr;
  }
  return nullptr;
}

}  // namespace sim::usb
