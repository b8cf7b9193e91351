// What the framework keeps for each adapter device, in the reserved first part of the device
// extension.
#pragma once

#include "kernel_mode.h"
#include "portcls/portcls.h"

namespace tarnlink::portcls {

enum class DeviceState : ULONG { Added, Started, StartFailed, SurpriseRemoved };

struct DeviceContext {
  ULONG signature;  // kDeviceSignature while the device is one of the framework's
  DeviceState state;
  PDEVICE_OBJECT functionalDevice;
  PDEVICE_OBJECT physicalDevice;
  PDEVICE_OBJECT lowerDevice;
  PCPFNSTARTDEVICE startDevice;
  ULONG maxSubdevices;
  ULONG subdeviceCount;
  LIST_ENTRY subdevices;  // SubdeviceRecord::link
  KMUTEX lock;            // guards the subdevice list and the power interface
  PADAPTERPOWERMANAGEMENT power;
  BOOLEAN starting;  // inside the start routine
};
static_assert(sizeof(DeviceContext) <= PORT_CLASS_DEVICE_EXTENSION_SIZE);

inline constexpr ULONG kDeviceSignature = 0x76446350;  // "PcDv"

// The framework's context of a device it created, or null for any other device.
DeviceContext* ContextOf(PDEVICE_OBJECT DeviceObject);

// Passive-level helpers around the context's mutex.
void LockDevice(DeviceContext* context);
void UnlockDevice(DeviceContext* context);

// Gives back every subdevice registration and the power interface: the device is going.
void ReleaseDeviceRegistrations(DeviceContext* context);

}  // namespace tarnlink::portcls
