// The device side of the USB function tests: a hub driver's physical device object that hands
// each URB to the simulated host controller, answers the bus-interface query and names its
// controller, and the controller's own named device that answers user requests. The driver
// under test talks to it only through IRPs, as it talks to the USB stack on Windows.
#pragma once

#include <memory>

#include "kernel_mode.h"
#include "sim/devices/uac_device.h"
#include "sim/usb/host_controller.h"

namespace usbfn::test {

class TestUsbPort {
 public:
  // Creates the drivers, the devices (with the function device attached above the PDO) and
  // plugs device into a bus of busSpeed. Call on a kernel thread.
  void Build(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed);
  void TearDown();

  sim::usb::HostController& controller() { return *controller_; }
  sim::devices::UsbDevice& device() { return *device_; }

  PDEVICE_OBJECT pdo = nullptr;
  PDEVICE_OBJECT fdo = nullptr;
  PDEVICE_OBJECT controllerDevice = nullptr;
  ULONG urbsSeen = 0;               // URBs that reached the PDO
  LONG busInterfaceReferences = 0;  // references the driver holds on the bus interface

  static TestUsbPort* current;

 private:
  std::unique_ptr<sim::devices::UsbDevice> device_;
  std::unique_ptr<sim::usb::HostController> controller_;
  PDRIVER_OBJECT hubDriver_ = nullptr;
  PDRIVER_OBJECT controllerDriver_ = nullptr;
  PDRIVER_OBJECT functionDriver_ = nullptr;
};

}  // namespace usbfn::test
