// Plug and Play, host side: the device nodes the machine creates for the physical device
// objects of its buses, and the device-interface records the SetupDi and device-notification
// stand-ins read. Product code never includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kernel/device_object.h"

namespace tarnlink::io {

struct DeviceNodeInfo {
  std::u16string instanceId;   // USB\VID_1234&PID_5678\SERIAL
  std::u16string serviceName;  // the function driver's service
  std::u16string description;  // the device's friendly name
};

// Makes PhysicalDeviceObject a PnP device; its instance key is created under
// HKLM\SYSTEM\CurrentControlSet\Enum. STATUS_OBJECT_NAME_COLLISION for a second node with the
// same instance id.
NTSTATUS CreateDeviceNode(PDEVICE_OBJECT PhysicalDeviceObject, const DeviceNodeInfo& info);
// The device is gone: its interfaces are disabled (with removal notices) and the node dropped.
VOID RemoveDeviceNode(PDEVICE_OBJECT PhysicalDeviceObject);

struct DeviceInterfaceInfo {
  GUID interfaceClass;
  std::u16string symbolicLink;  // \??\USB#VID_1234&PID_5678#SERIAL#{guid}\reference
  std::u16string devicePath;    // the same for Win32: \\?\USB#...
  std::u16string referenceString;
  bool enabled = false;
  DeviceNodeInfo device;
};

// Interfaces of a class, in registration order; only the enabled ones when presentOnly.
std::vector<DeviceInterfaceInfo> EnumerateDeviceInterfaces(const GUID& interfaceClass,
                                                           bool presentOnly);

// Called (outside any lock) whenever an interface is enabled (arrived) or disabled.
using InterfaceChangeCallback = std::function<void(const DeviceInterfaceInfo&, bool arrived)>;
uint64_t WatchDeviceInterfaces(InterfaceChangeCallback callback);
VOID CancelDeviceInterfaceWatch(uint64_t id);

// "{6994ad04-93ef-11d0-a3cc-00a0c9223196}", the way link names spell a class.
std::u16string GuidText(const GUID& guid);

// Forgets every node, interface and watcher (a new machine).
VOID ResetPnp();

}  // namespace tarnlink::io
