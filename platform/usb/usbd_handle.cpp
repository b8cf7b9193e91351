// USBD client handles and the URBs allocated through them. Each URB carries a hidden prefix
// naming the handle it came from, so a free through the wrong handle or of a URB the library
// never made stops the machine, as the verifier does on Windows.
#include "kernel/bugcheck.h"
#include "kernel/ex_pool.h"
#include "kernel/interlocked.h"
#include "kernel/trace.h"
#include "usb/usb_trace.h"
#include "usb/usbdlib.h"

struct USBD_HANDLE__ {
  ULONG magic;
  ULONG poolTag;
  struct _DEVICE_OBJECT* device;
  struct _DEVICE_OBJECT* target;
  volatile LONG liveUrbs;
};

namespace {

constexpr ULONG kHandleMagic = 0x48445355;  // "USDH"
constexpr ULONG64 kUrbMagic = 0x4255524453425355ull;

struct alignas(16) UrbPrefix {
  ULONG64 magic;
  USBD_HANDLE owner;
};

bool ValidHandle(USBD_HANDLE handle) {
  return handle != nullptr && handle->magic == kHandleMagic;
}

NTSTATUS AllocateUrb(USBD_HANDLE handle, SIZE_T size, PURB* urb) {
  if (urb == nullptr) return STATUS_INVALID_PARAMETER;
  *urb = nullptr;
  if (!ValidHandle(handle)) return STATUS_INVALID_PARAMETER;
  auto* prefix = static_cast<UrbPrefix*>(
      ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(UrbPrefix) + size, handle->poolTag));
  if (prefix == nullptr) {
    TRACE_POINT(kTraceUsbdUrbAllocationFailed, size);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  prefix->magic = kUrbMagic;
  prefix->owner = handle;
  InterlockedIncrement(&handle->liveUrbs);
  *urb = reinterpret_cast<PURB>(prefix + 1);
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS USBD_CreateHandle(struct _DEVICE_OBJECT* DeviceObject,
                           struct _DEVICE_OBJECT* TargetDeviceObject,
                           ULONG USBDClientContractVersion, ULONG PoolTag,
                           USBD_HANDLE* USBDHandle) {
  if (USBDHandle == nullptr) return STATUS_INVALID_PARAMETER;
  *USBDHandle = nullptr;
  if (DeviceObject == nullptr || TargetDeviceObject == nullptr || PoolTag == 0) {
    return STATUS_INVALID_PARAMETER;
  }
  // This stack speaks the Windows 8 contract only; older clients use the URB calls without a
  // handle, newer ones are unknown here.
  if (USBDClientContractVersion != USBD_CLIENT_CONTRACT_VERSION_602) {
    TRACE_POINT(kTraceUsbdUnknownContract, USBDClientContractVersion);
    return STATUS_NOT_SUPPORTED;
  }
  auto* handle = static_cast<USBD_HANDLE>(
      ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(USBD_HANDLE__), PoolTag));
  if (handle == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  handle->magic = kHandleMagic;
  handle->poolTag = PoolTag;
  handle->device = DeviceObject;
  handle->target = TargetDeviceObject;
  *USBDHandle = handle;
  return STATUS_SUCCESS;
}

VOID USBD_CloseHandle(USBD_HANDLE USBDHandle) {
  if (USBDHandle == nullptr) return;
  if (!ValidHandle(USBDHandle)) {
    KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, kVerifierBadUsbdHandle,
                 reinterpret_cast<ULONG_PTR>(USBDHandle), 0, 0);
  }
  if (USBDHandle->liveUrbs != 0) TRACE_POINT(kTraceUsbdHandleClosedWithUrbs, USBDHandle->liveUrbs);
  USBDHandle->magic = 0;
  ExFreePoolWithTag(USBDHandle, USBDHandle->poolTag);
}

NTSTATUS USBD_UrbAllocate(USBD_HANDLE USBDHandle, PURB* Urb) {
  NTSTATUS status = AllocateUrb(USBDHandle, sizeof(URB), Urb);
  if (NT_SUCCESS(status)) (*Urb)->UrbHeader.Length = sizeof(URB);
  return status;
}

NTSTATUS USBD_IsochUrbAllocate(USBD_HANDLE USBDHandle, ULONG NumberOfIsochPacket, PURB* Urb) {
  // A URB with no packets, or more than its 16-bit length can describe, is a caller bug.
  if (NumberOfIsochPacket == 0 ||
      GET_ISO_URB_SIZE(static_cast<SIZE_T>(NumberOfIsochPacket)) > 0xFFFF) {
    if (Urb != nullptr) *Urb = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  const SIZE_T size = GET_ISO_URB_SIZE(static_cast<SIZE_T>(NumberOfIsochPacket));
  NTSTATUS status = AllocateUrb(USBDHandle, size, Urb);
  if (!NT_SUCCESS(status)) return status;
  (*Urb)->UrbHeader.Length = static_cast<USHORT>(size);
  (*Urb)->UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
  (*Urb)->UrbIsochronousTransfer.NumberOfPackets = NumberOfIsochPacket;
  return STATUS_SUCCESS;
}

VOID USBD_UrbFree(USBD_HANDLE USBDHandle, PURB Urb) {
  if (Urb == nullptr) return;
  UrbPrefix* prefix = reinterpret_cast<UrbPrefix*>(Urb) - 1;
  if (!ValidHandle(USBDHandle) || prefix->magic != kUrbMagic || prefix->owner != USBDHandle) {
    KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, kVerifierBadUsbdUrbFree,
                 reinterpret_cast<ULONG_PTR>(Urb), reinterpret_cast<ULONG_PTR>(USBDHandle), 0);
  }
  prefix->magic = 0;
  InterlockedDecrement(&USBDHandle->liveUrbs);
  ExFreePoolWithTag(prefix, USBDHandle->poolTag);
}

VOID USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION VersionInformation) {
  if (VersionInformation == nullptr) return;
  VersionInformation->USBDI_Version = 0x600;
  VersionInformation->Supported_USB_Version = 0x200;
}
