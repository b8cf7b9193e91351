#include "usb/usbd_extent.h"

#include <cstddef>

#include "kernel/machine.h"

namespace tarnlink::usb {

ULONG ConfigurationExtent(const USB_CONFIGURATION_DESCRIPTOR* configuration) {
  kernel::PoolTracker::Block block{};
  kernel::Machine* machine = kernel::Machine::CurrentOrNull();
  if (machine == nullptr || !machine->pool().Find(configuration, &block)) {
    return configuration->wTotalLength;
  }
  // Too short to hold wTotalLength itself: only the block's own bytes are readable.
  if (block.bytes < offsetof(USB_CONFIGURATION_DESCRIPTOR, bNumInterfaces)) {
    return static_cast<ULONG>(block.bytes);
  }
  return configuration->wTotalLength < block.bytes ? configuration->wTotalLength
                                                   : static_cast<ULONG>(block.bytes);
}

bool WithinConfiguration(const USB_CONFIGURATION_DESCRIPTOR* configuration, const void* p,
                         SIZE_T length) {
  const auto* begin = reinterpret_cast<const UCHAR*>(configuration);
  const auto* at = static_cast<const UCHAR*>(p);
  if (at < begin) return false;
  const SIZE_T offset = static_cast<SIZE_T>(at - begin);
  const ULONG extent = ConfigurationExtent(configuration);
  return offset <= extent && length <= extent - offset;
}

}  // namespace tarnlink::usb
