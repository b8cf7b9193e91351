// Subdevice registrations of an adapter device: a port under a reference string, published as
// a device interface of the physical device.
#pragma once

#include <string_view>

#include "portcls/pc_device_context.h"
#include "portcls/pc_port_wavert.h"

namespace tarnlink::portcls {

struct SubdeviceRecord {
  LIST_ENTRY link;
  CPortWaveRT* port;            // referenced
  UNICODE_STRING symbolicLink;  // from IoRegisterDeviceInterface
  BOOLEAN enabled;              // the interface is enabled
  UNICODE_STRING name;          // the reference string, stored after the record
};

// Ends the registration of Port on the device: interface disabled, port released.
NTSTATUS RemoveSubdevice(DeviceContext* context, CPortWaveRT* Port);
// The port registered under the reference string, referenced; null when there is none.
CPortWaveRT* ReferencePort(DeviceContext* context, std::u16string_view reference);
// Takes the interfaces away without ending the registrations: the device is gone.
void DisableSubdeviceInterfaces(DeviceContext* context);

}  // namespace tarnlink::portcls
