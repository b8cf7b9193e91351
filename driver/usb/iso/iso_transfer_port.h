// What the transfer engine needs of the USB function below it: IRPs and request contexts from
// its pools, where the requests go, and what the bus says of itself. The engine knows the
// function only through this, so the isochronous layer depends on nothing above the platform.
#pragma once

#include "kernel_mode.h"
#include "usb_request_context.h"

class IIsoTransferPort {
 public:
  // An IRP for one request, up to DISPATCH_LEVEL; null only when memory is short.
  virtual _IRQL_requires_max_(DISPATCH_LEVEL) PIRP GetIrp() = 0;
  virtual _IRQL_requires_max_(DISPATCH_LEVEL) VOID ReturnIrp(PIRP irp) = 0;
  // A zero-filled request context, or null; and its return.
  virtual _IRQL_requires_max_(DISPATCH_LEVEL) USBRequestContext* AllocateRequestContext() = 0;
  virtual _IRQL_requires_max_(DISPATCH_LEVEL) VOID
      FreeRequestContext(USBRequestContext* context) = 0;
  virtual USBD_HANDLE UsbdHandle() const = 0;
  virtual PDEVICE_OBJECT TargetDevice() const = 0;
  virtual BOOLEAN IsHighSpeed() const = 0;
  // bcdUSB of the device descriptor: how the pipe intervals are to be read.
  virtual USHORT UsbVersion() const = 0;
  // The bus frame now; FALSE when the bus interface cannot tell.
  virtual BOOLEAN QueryBusFrame(PULONG frame) const = 0;

 protected:
  ~IIsoTransferPort() = default;
};
