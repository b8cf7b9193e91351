// The audio function of a composite device as its own USB device, between the function's
// driver and the host controller: the function's driver reads a configuration descriptor that
// holds only the function's interfaces and selects that configuration; everything else passes
// through unchanged.
#pragma once

#include "sim/machine/audio_function.h"
#include "usb/usb_port.h"

namespace sim::machine {

class CompositeFunction : public tarnlink::usb::UsbPortBackend {
 public:
  CompositeFunction(tarnlink::usb::UsbPortBackend* parent, AudioFunctionLayout layout);

  NTSTATUS SubmitUrb(PURB urb, tarnlink::usb::PortUrbCompletion completion,
                     void* context) override;
  ULONG CurrentFrame() const override { return parent_->CurrentFrame(); }
  bool DeviceHighSpeed() const override { return parent_->DeviceHighSpeed(); }
  USB_CONTROLLER_INFO_0 ControllerInfo() const override { return parent_->ControllerInfo(); }

  const AudioFunctionLayout& Layout() const { return layout_; }

 private:
  struct DescriptorRead;
  static void DescriptorReadDone(PURB urb, NTSTATUS status, void* context);

  tarnlink::usb::UsbPortBackend* parent_;
  AudioFunctionLayout layout_;
};

}  // namespace sim::machine
