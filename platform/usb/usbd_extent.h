// How many bytes of a configuration descriptor the USB stack may look at.
#pragma once

#include "usb/usbspec.h"

namespace tarnlink::usb {

// wTotalLength, but never more than the pool block the copy lives in: a device may claim a
// longer configuration than the bytes it actually delivered into the caller's buffer.
ULONG ConfigurationExtent(const USB_CONFIGURATION_DESCRIPTOR* configuration);

// True when [p, p + length) lies inside the configuration's extent.
bool WithinConfiguration(const USB_CONFIGURATION_DESCRIPTOR* configuration, const void* p,
                         SIZE_T length);

}  // namespace tarnlink::usb
