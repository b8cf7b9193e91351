// A string descriptor as the device sent it: bLength, bDescriptorType, then UTF-16LE text
// without a terminator. Empty (size 0, no buffer) for a string the device has no text for.
#pragma once

#include "kernel_mode.h"

class USBStringDescriptor {
 public:
  USBStringDescriptor() = default;
  ~USBStringDescriptor() { Clear(); }
  USBStringDescriptor(const USBStringDescriptor&) = delete;
  USBStringDescriptor& operator=(const USBStringDescriptor&) = delete;

  ULONG Size() const { return m_Size; }
  const UCHAR* Buffer() const { return m_Buffer; }
  // Text bytes after the 2-byte header.
  ULONG TextBytes() const { return m_Size < 2 ? 0 : m_Size - 2; }
  ULONG CharacterCount() const { return TextBytes() / 2; }
  // The character at index (below CharacterCount); 0 past the end rather than a stray read.
  WCHAR CharacterAt(ULONG index) const;

  VOID Clear();

 private:
  friend class CUSBCL;
  // A zero-filled buffer of size bytes, replacing any earlier one.
  NTSTATUS Allocate(ULONG size);
  // Keeps only the first bytes the device actually sent (an even count).
  VOID Truncate(ULONG received);

  ULONG m_Size = 0;
  PUCHAR m_Buffer = nullptr;
};
