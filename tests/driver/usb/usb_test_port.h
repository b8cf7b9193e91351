// The device side of the USB function tests: the platform's USB stack (PDO and named host
// controller device) over the simulated host controller, with a function device attached above
// the PDO as the driver's own device would be. URBs are counted on their way to the controller,
// so a test can prove that a refused request never reached the bus.
#pragma once

#include <functional>
#include <memory>

#include "kernel_mode.h"
#include "sim/devices/usb_device.h"
#include "sim/usb/host_controller.h"
#include "usb/usb_port.h"

namespace usbfn::test {

class TestUsbPort : public tarnlink::usb::UsbPortBackend {
 public:
  // Plugs device into a bus of busSpeed and builds the stack. Call on a kernel thread.
  void Build(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed);
  void TearDown();

  sim::usb::HostController& controller() { return *controller_; }

  NTSTATUS SubmitUrb(PURB urb, tarnlink::usb::PortUrbCompletion completion, void* context) override;
  ULONG CurrentFrame() const override { return controller_->CurrentFrame(); }
  bool DeviceHighSpeed() const override { return controller_->DeviceHighSpeed(); }
  USB_CONTROLLER_INFO_0 ControllerInfo() const override { return controller_->ControllerInfo(); }

  PDEVICE_OBJECT pdo = nullptr;
  PDEVICE_OBJECT fdo = nullptr;
  ULONG urbsSeen = 0;  // URBs that reached the controller
  // Sees each URB on its way to the controller, when set.
  std::function<void(PURB)> onUrb;

 private:
  std::unique_ptr<sim::devices::UsbDevice> device_;
  std::unique_ptr<sim::usb::HostController> controller_;
  tarnlink::usb::UsbStack stack_;
  PDRIVER_OBJECT functionDriver_ = nullptr;
};

}  // namespace usbfn::test
