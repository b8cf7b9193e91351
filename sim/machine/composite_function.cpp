#include "sim/machine/composite_function.h"

#include <algorithm>
#include <cstring>

namespace sim::machine {

// A configuration read on its way through the parent: what the function's driver asked for.
struct CompositeFunction::DescriptorRead {
  CompositeFunction* function;
  tarnlink::usb::PortUrbCompletion completion;
  void* context;
  ULONG requested;
};

CompositeFunction::CompositeFunction(tarnlink::usb::UsbPortBackend* parent,
                                     AudioFunctionLayout layout)
    : parent_(parent), layout_(std::move(layout)) {}

NTSTATUS CompositeFunction::SubmitUrb(PURB urb, tarnlink::usb::PortUrbCompletion completion,
                                      void* context) {
  const bool configurationRead =
      urb->UrbHeader.Function == URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE &&
      urb->UrbHeader.Length >= sizeof(urb->UrbControlDescriptorRequest) &&
      urb->UrbControlDescriptorRequest.DescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE;
  if (!configurationRead) return parent_->SubmitUrb(urb, completion, context);
  // The device answers with the whole configuration; the function's share replaces it on the
  // way back.
  auto* read = new DescriptorRead{this, completion, context,
                                  urb->UrbControlDescriptorRequest.TransferBufferLength};
  NTSTATUS status = parent_->SubmitUrb(urb, DescriptorReadDone, read);
  if (status != STATUS_PENDING) delete read;
  return status;
}

void CompositeFunction::DescriptorReadDone(PURB urb, NTSTATUS status, void* context) {
  auto* read = static_cast<DescriptorRead*>(context);
  auto& request = urb->UrbControlDescriptorRequest;
  if (NT_SUCCESS(status) && request.TransferBuffer != nullptr) {
    const std::vector<uint8_t>& filtered = read->function->layout_.configuration;
    const ULONG n = std::min<ULONG>(read->requested, static_cast<ULONG>(filtered.size()));
    std::memcpy(request.TransferBuffer, filtered.data(), n);
    request.TransferBufferLength = n;
  }
  tarnlink::usb::PortUrbCompletion completion = read->completion;
  void* original = read->context;
  delete read;
  completion(urb, status, original);
}

}  // namespace sim::machine
