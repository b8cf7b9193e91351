// A function device over a simulated controller: one USB device plugged into a host controller
// of its own, the platform's USB stack (PDO and named host controller device) above it, and a
// function device object attached above the PDO as a function driver's own device would be.
// The command-line tool, the fuzz target and the driver's USB tests start the driver's USB
// function on it without booting the whole machine. URBs are counted on their way to the
// controller, so a caller can prove that a refused request never reached the bus.
#pragma once

#include <functional>
#include <memory>

#include "kernel_mode.h"
#include "sim/devices/usb_device.h"
#include "sim/machine/composite_function.h"
#include "sim/machine/enumeration.h"
#include "sim/usb/host_controller.h"
#include "usb/usb_port.h"

namespace sim::machine {

class FunctionDevice : public tarnlink::usb::UsbPortBackend {
 public:
  // Plugs device into a bus of busSpeed and builds the stack above the device or, bound as a
  // function, above its audio function. Call on a kernel thread. False when a part could not be
  // made; TearDown then releases the parts that were.
  bool Build(std::unique_ptr<devices::UsbDevice> device, devices::UsbSpeed busSpeed,
             Binding binding = Binding::Whole);
  // Detaches and deletes the function device, unloads its driver and deletes the stack. Call
  // on a kernel thread.
  void TearDown();

  usb::HostController& controller() { return *controller_; }

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
  std::unique_ptr<devices::UsbDevice> device_;
  std::unique_ptr<usb::HostController> controller_;
  std::unique_ptr<CompositeFunction> function_;  // bound as a function with an audio function
  tarnlink::usb::UsbStack stack_;
  PDRIVER_OBJECT functionDriver_ = nullptr;
};

}  // namespace sim::machine
