// Descriptor parsers of the USBD client library. The bytes come from the device, so nothing in
// them is trusted: every step is bounded by the configuration's extent, a descriptor shorter
// than its own header ends the walk (a zero bLength would otherwise loop forever), and a
// descriptor that claims to run past the end is never returned.
#include "usb/usbd_extent.h"
#include "usb/usbdlib.h"

namespace {

const UCHAR* Bytes(const void* p) {
  return static_cast<const UCHAR*>(p);
}

bool Matches(LONG key, UCHAR value) {
  return key == -1 || key == static_cast<LONG>(value);
}

}  // namespace

PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength,
                                             PVOID StartPosition, LONG DescriptorType) {
  if (DescriptorBuffer == nullptr) return nullptr;
  const UCHAR* begin = Bytes(DescriptorBuffer);
  const UCHAR* start = StartPosition != nullptr ? Bytes(StartPosition) : begin;
  if (start < begin) return nullptr;
  SIZE_T offset = static_cast<SIZE_T>(start - begin);
  while (offset < TotalLength && TotalLength - offset >= sizeof(USB_COMMON_DESCRIPTOR)) {
    const auto* common = reinterpret_cast<const USB_COMMON_DESCRIPTOR*>(begin + offset);
    if (common->bLength < sizeof(USB_COMMON_DESCRIPTOR)) return nullptr;
    if (common->bLength > TotalLength - offset) return nullptr;
    if (common->bDescriptorType == DescriptorType) {
      return const_cast<PUSB_COMMON_DESCRIPTOR>(common);
    }
    offset += common->bLength;
  }
  return nullptr;
}

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol) {
  if (ConfigurationDescriptor == nullptr) return nullptr;
  const ULONG extent = tarnlink::usb::ConfigurationExtent(ConfigurationDescriptor);
  PVOID position = StartPosition;
  for (;;) {
    PUSB_COMMON_DESCRIPTOR found = USBD_ParseDescriptors(ConfigurationDescriptor, extent, position,
                                                         USB_INTERFACE_DESCRIPTOR_TYPE);
    if (found == nullptr) return nullptr;
    position = const_cast<UCHAR*>(Bytes(found) + found->bLength);
    // A truncated interface descriptor has no fields to compare; it matches nothing.
    if (found->bLength < sizeof(USB_INTERFACE_DESCRIPTOR)) continue;
    auto* candidate = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(found);
    if (Matches(InterfaceNumber, candidate->bInterfaceNumber) &&
        Matches(AlternateSetting, candidate->bAlternateSetting) &&
        Matches(InterfaceClass, candidate->bInterfaceClass) &&
        Matches(InterfaceSubClass, candidate->bInterfaceSubClass) &&
        Matches(InterfaceProtocol, candidate->bInterfaceProtocol)) {
      return candidate;
    }
  }
}
