#include "function_device.h"

#include "kernel/driver_object_host.h"

namespace sim::machine {

NTSTATUS FunctionDevice::SubmitUrb(PURB urb, tarnlink::usb::PortUrbCompletion completion,
                                   void* context) {
  ++urbsSeen;
  if (onUrb) onUrb(urb);
  if (function_ != nullptr) return function_->SubmitUrb(urb, completion, context);
  return controller_->SubmitUrb(urb, completion, context);
}

bool FunctionDevice::Build(std::unique_ptr<devices::UsbDevice> device, devices::UsbSpeed busSpeed,
                           Binding binding) {
  device_ = std::move(device);
  controller_ = std::make_unique<usb::HostController>(busSpeed);
  controller_->Attach(device_.get());
  if (binding == Binding::Function) {
    if (auto layout = FindAudioFunction(ReadConfiguration(*device_))) {
      function_ = std::make_unique<CompositeFunction>(controller_.get(), std::move(*layout));
    }
  }
  if (!NT_SUCCESS(tarnlink::usb::CreateUsbStack(this, &stack_))) return false;
  pdo = stack_.pdo;
  if (!NT_SUCCESS(IoHostCreateDriver(u"functiondevice", &functionDriver_))) return false;
  if (!NT_SUCCESS(IoCreateDevice(functionDriver_, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &fdo))) {
    fdo = nullptr;
    return false;
  }
  if (IoAttachDeviceToDeviceStack(fdo, pdo) != pdo) {
    IoDeleteDevice(fdo);
    fdo = nullptr;
    return false;
  }
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  return true;
}

void FunctionDevice::TearDown() {
  if (fdo != nullptr) {
    IoDetachDevice(pdo);
    IoDeleteDevice(fdo);
    fdo = nullptr;
  }
  if (functionDriver_ != nullptr) IoHostUnloadDriver(functionDriver_);
  functionDriver_ = nullptr;
  tarnlink::usb::DeleteUsbStack(&stack_);
  pdo = nullptr;
  function_.reset();
  controller_.reset();
  device_.reset();
}

}  // namespace sim::machine
