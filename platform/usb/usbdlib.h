// The USBD client library: handles, URB allocation and the descriptor parsers.
#pragma once

#include "usb/usb.h"

struct _DEVICE_OBJECT;

typedef struct USBD_HANDLE__* USBD_HANDLE;

#define USBD_CLIENT_CONTRACT_VERSION_INVALID 0xFFFFFFFF
#define USBD_CLIENT_CONTRACT_VERSION_602 0x602

// Client handles (the contract of Windows 8 and later).
NTSTATUS USBD_CreateHandle(struct _DEVICE_OBJECT* DeviceObject,
                           struct _DEVICE_OBJECT* TargetDeviceObject,
                           ULONG USBDClientContractVersion, ULONG PoolTag, USBD_HANDLE* USBDHandle);
VOID USBD_CloseHandle(USBD_HANDLE USBDHandle);
NTSTATUS USBD_UrbAllocate(USBD_HANDLE USBDHandle, PURB* Urb);
NTSTATUS USBD_IsochUrbAllocate(USBD_HANDLE USBDHandle, ULONG NumberOfIsochPacket, PURB* Urb);
VOID USBD_UrbFree(USBD_HANDLE USBDHandle, PURB Urb);

// Builds a select-configuration URB for the interfaces of the list (the list is terminated by
// an entry whose InterfaceDescriptor is null); each entry's Interface points into the URB.
// The URB is pool memory that the caller frees with ExFreePool.
PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList);

// Finds the next interface descriptor at or after StartPosition that matches every key that is
// not -1. Never reads outside wTotalLength bytes of the configuration.
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol);

// Finds the next descriptor of DescriptorType at or after StartPosition within the
// TotalLength bytes of DescriptorBuffer.
PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength,
                                             PVOID StartPosition, LONG DescriptorType);

VOID USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION VersionInformation);
