#include "usb_string_descriptor.h"

#include "usb_support.h"

WCHAR USBStringDescriptor::CharacterAt(ULONG index) const {
  if (index >= CharacterCount()) return 0;
  const UCHAR* at = buffer_ + 2 + index * 2;
  return static_cast<WCHAR>(at[0] | (at[1] << 8));
}

VOID USBStringDescriptor::Clear() {
  FreeDriverPool(buffer_);
  buffer_ = nullptr;
  size_ = 0;
}

NTSTATUS USBStringDescriptor::Allocate(ULONG size) {
  Clear();
  buffer_ = static_cast<PUCHAR>(AllocateDriverPool(size));
  if (buffer_ == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  size_ = size;
  return STATUS_SUCCESS;
}

VOID USBStringDescriptor::Truncate(ULONG received) {
  ULONG even = received & ~1u;
  if (even < size_) size_ = even;
  if (size_ < 2) Clear();
}
