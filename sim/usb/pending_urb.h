// One URB the controller holds, with the timer that ends it. Private to the controller.
#pragma once

#include "sim/usb/host_controller.h"

namespace sim::usb {

struct HostController::Pending {
  HostController* owner = nullptr;
  KTIMER timer;
  KDPC dpc;
  PURB urb = nullptr;
  UrbCompletion completion = nullptr;
  void* context = nullptr;
  PipeState* pipe = nullptr;
  uint64_t startTick = 0;
  uint64_t intervalTicks = 1;
  uint64_t endTick = 0;
  ULONG nextPacket = 0;     // isochronous: first packet not yet played
  uint8_t* data = nullptr;  // isochronous: the transfer's bytes (buffer or mapped MDL)
  bool isochronous = false;
  bool cancelled = false;
  bool held = false;  // due while the controller held its completions back
  NTSTATUS status = STATUS_SUCCESS;
  USBD_STATUS usbd = USBD_STATUS_SUCCESS;
};

}  // namespace sim::usb
