// The USB stack below a function driver, host side: the physical device object a function
// driver sends its URBs to, and the host-controller device object it finds by name. What
// stands behind them (the simulated controller and bus) implements UsbPortBackend.
#pragma once

#include "kernel/device_object.h"
#include "usb/usb.h"
#include "usb/usbuser.h"

namespace tarnlink::usb {

using PortUrbCompletion = void (*)(PURB urb, NTSTATUS status, void* context);

class UsbPortBackend {
 public:
  virtual ~UsbPortBackend() = default;
  // STATUS_PENDING: completion runs later at DISPATCH_LEVEL. Otherwise the URB was refused.
  virtual NTSTATUS SubmitUrb(PURB urb, PortUrbCompletion completion, void* context) = 0;
  virtual ULONG CurrentFrame() const = 0;
  virtual bool DeviceHighSpeed() const = 0;
  virtual USB_CONTROLLER_INFO_0 ControllerInfo() const = 0;
};

struct UsbStack {
  PDRIVER_OBJECT driver = nullptr;
  PDEVICE_OBJECT pdo = nullptr;
  PDEVICE_OBJECT controller = nullptr;
};

// Creates the controller device (named \Device\USBFDO-n for the machine's controller n) and
// the device's PDO.
NTSTATUS CreateUsbStack(UsbPortBackend* backend, UsbStack* stack, ULONG index = 0);
VOID DeleteUsbStack(UsbStack* stack);

}  // namespace tarnlink::usb
