// USBD_CreateConfigurationRequestEx: one select-configuration URB with an interface record per
// list entry, each sized for its interface's endpoints.
#include "kernel/ex_pool.h"
#include "kernel/host_kernel.h"
#include "usb/usbd_extent.h"
#include "usb/usbdlib.h"

namespace {

constexpr ULONG kConfigurationRequestTag = tarnlink::kernel::PoolTag("USBD");
constexpr SIZE_T kSelectConfigurationFixedPart =
    sizeof(struct _URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION);

}  // namespace

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList) {
  if (ConfigurationDescriptor == nullptr || InterfaceList == nullptr) return nullptr;
  SIZE_T size = kSelectConfigurationFixedPart;
  ULONG count = 0;
  for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor != nullptr;
       ++entry) {
    // The list must point into this configuration, at whole interface descriptors.
    if (!tarnlink::usb::WithinConfiguration(ConfigurationDescriptor, entry->InterfaceDescriptor,
                                            sizeof(USB_INTERFACE_DESCRIPTOR))) {
      return nullptr;
    }
    size += GET_USBD_INTERFACE_SIZE(entry->InterfaceDescriptor->bNumEndpoints);
    ++count;
  }
  // The URB header carries its length in 16 bits.
  if (count == 0 || size > 0xFFFF) return nullptr;

  auto* urb =
      static_cast<PURB>(ExAllocatePool2(POOL_FLAG_NON_PAGED, size, kConfigurationRequestTag));
  if (urb == nullptr) return nullptr;
  urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
  urb->UrbHeader.Length = static_cast<USHORT>(size);
  urb->UrbSelectConfiguration.ConfigurationDescriptor = ConfigurationDescriptor;

  auto* cursor = reinterpret_cast<UCHAR*>(&urb->UrbSelectConfiguration.Interface);
  for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor != nullptr;
       ++entry) {
    const USB_INTERFACE_DESCRIPTOR* descriptor = entry->InterfaceDescriptor;
    auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(cursor);
    info->Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(descriptor->bNumEndpoints));
    info->InterfaceNumber = descriptor->bInterfaceNumber;
    info->AlternateSetting = descriptor->bAlternateSetting;
    info->NumberOfPipes = descriptor->bNumEndpoints;
    for (ULONG pipe = 0; pipe < info->NumberOfPipes; ++pipe) {
      info->Pipes[pipe].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    }
    entry->Interface = info;
    cursor += info->Length;
  }
  return urb;
}
