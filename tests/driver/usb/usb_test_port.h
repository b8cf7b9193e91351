// The device side of the USB function tests: the machine's function device over a simulated
// controller, failing the test when it cannot be built.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "sim/machine/function_device.h"

namespace tarnlink::usb_function::testing {

class TestUsbPort : public sim::machine::FunctionDevice {
 public:
  // Plugs device into a bus of busSpeed and builds the stack. Call on a kernel thread.
  void Build(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed) {
    ASSERT_TRUE(FunctionDevice::Build(std::move(device), busSpeed));
  }
};

}  // namespace tarnlink::usb_function::testing
