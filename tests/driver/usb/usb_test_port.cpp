#include "usb_test_port.h"

#include <gtest/gtest.h>

#include "kernel/driver_object_host.h"

namespace usbfn::test {

NTSTATUS TestUsbPort::SubmitUrb(PURB urb, tarnlink::usb::PortUrbCompletion completion,
                                void* context) {
  ++urbsSeen;
  if (onUrb) onUrb(urb);
  return controller_->SubmitUrb(urb, completion, context);
}

void TestUsbPort::Build(std::unique_ptr<sim::devices::UsbDevice> device,
                        sim::devices::UsbSpeed busSpeed) {
  device_ = std::move(device);
  controller_ = std::make_unique<sim::usb::HostController>(busSpeed);
  controller_->Attach(device_.get());
  ASSERT_EQ(tarnlink::usb::CreateUsbStack(this, &stack_), STATUS_SUCCESS);
  pdo = stack_.pdo;
  ASSERT_EQ(IoHostCreateDriver(u"testaudio", &functionDriver_), STATUS_SUCCESS);
  ASSERT_EQ(IoCreateDevice(functionDriver_, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &fdo),
            STATUS_SUCCESS);
  ASSERT_EQ(IoAttachDeviceToDeviceStack(fdo, pdo), pdo);
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
}

void TestUsbPort::TearDown() {
  if (fdo != nullptr) {
    IoDetachDevice(pdo);
    IoDeleteDevice(fdo);
    fdo = nullptr;
  }
  if (functionDriver_ != nullptr) IoHostUnloadDriver(functionDriver_);
  functionDriver_ = nullptr;
  tarnlink::usb::DeleteUsbStack(&stack_);
  pdo = nullptr;
  controller_.reset();
  device_.reset();
}

}  // namespace usbfn::test
