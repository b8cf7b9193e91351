#include "usb_string_descriptor.h"

#include "byte_order.h"
#include "usb_support.h"

WCHAR USBStringDescriptor::CharacterAt(ULONG index) const {
  if (index >= CharacterCount()) return 0;
  const UCHAR* at = m_Buffer + 2 + index * 2;
  return static_cast<WCHAR>(ReadLe16(at));
}

VOID USBStringDescriptor::Clear() {
  FreeDriverPool(m_Buffer);
  m_Buffer = nullptr;
  m_Size = 0;
}

NTSTATUS USBStringDescriptor::Allocate(ULONG size) {
  Clear();
  m_Buffer = static_cast<PUCHAR>(AllocateDriverPool(size));
  if (m_Buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  m_Size = size;
  return STATUS_SUCCESS;
}

VOID USBStringDescriptor::Truncate(ULONG received) {
  ULONG even = received & ~1u;
  if (even < m_Size) m_Size = even;
  if (m_Size < 2) Clear();
}
