// Device interfaces and device registry keys, as a function driver uses them.
#pragma once

#include "kernel/device_object.h"

#define PLUGPLAY_REGKEY_DEVICE 1
#define PLUGPLAY_REGKEY_DRIVER 2
#define PLUGPLAY_REGKEY_CURRENT_HWPROFILE 4

// Registers an interface of the class for the physical device object; the link name (kernel
// form, \??\...) is allocated for the caller, who frees it with RtlFreeUnicodeString.
// Registering the same class and reference string again returns the same name.
NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject,
                                   const GUID* InterfaceClassGuid, PUNICODE_STRING ReferenceString,
                                   PUNICODE_STRING SymbolicLinkName);
// Enabling makes the interface openable and announces its arrival; disabling takes it away.
// STATUS_OBJECT_NAME_EXISTS when it is already enabled, STATUS_OBJECT_NAME_NOT_FOUND when it is
// not registered or already disabled.
NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable);
// PLUGPLAY_REGKEY_DEVICE opens (creating when missing) the hardware key, "Device Parameters"
// under the device's instance key; DeviceObject must be the physical device object.
NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                 ACCESS_MASK DesiredAccess, PHANDLE DeviceRegKey);

VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
