// The pipes of the configured device. Pipe records are never freed while the controller
// lives, so a handle from an earlier configuration or alternate setting is recognised as
// stale rather than followed into freed memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/devices/usb_device.h"
#include "usb/usb.h"

namespace sim::usb {

struct PipeState {
  UCHAR interfaceNumber = 0;
  UCHAR address = 0;
  USBD_PIPE_TYPE type = UsbdPipeTypeControl;
  USHORT wMaxPacketSize = 0;
  UCHAR bInterval = 0;
  ULONG capacity = 0;          // bytes per (micro)frame, additional transactions included
  uint64_t intervalTicks = 1;  // bus ticks between service opportunities
  bool active = false;
  bool scheduled = false;  // an ASAP stream runs on; cleared by abort and reset
  uint64_t nextTick = 0;   // where the next ASAP URB continues
  ULONG pendingCount = 0;
};

class PipeTable {
 public:
  PipeState* Open(UCHAR interfaceNumber, const USB_ENDPOINT_DESCRIPTOR& endpoint,
                  devices::UsbSpeed speed);
  void CloseInterface(UCHAR interfaceNumber);
  void CloseAll();
  // The active pipe behind a handle, or null.
  PipeState* Find(USBD_PIPE_HANDLE handle) const;

 private:
  std::vector<std::unique_ptr<PipeState>> pipes_;
};

}  // namespace sim::usb
