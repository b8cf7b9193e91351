// CUSBCL: start of the function and the descriptors it keeps.
#include "usb_function.h"

#include "byte_order.h"
#include "usb_support.h"
#include "usb_trace_points.h"

namespace {

constexpr ULONG kDefaultIrpCount = 10;
constexpr USHORT kLanguageListProbeBytes = 4;

}  // namespace

CUSBCL::CUSBCL() {
  KeInitializeMutex(&m_TableMutex, 0);
  InitializeListHead(&m_IrpFreeList);
  KeInitializeSpinLock(&m_IrpFreeListLock);
  NTSTATUS status =
      ExInitializeLookasideListEx(&m_RequestContexts, nullptr, nullptr, DriverPoolType(), 0,
                                  sizeof(USBRequestContext), kDriverPoolTag, 0);
  if (NT_SUCCESS(status)) {
    m_RequestContextsReady = TRUE;
  } else {
    TRACE_POINT(kTraceRequestContextListFailed, status);
  }
}

CUSBCL::~CUSBCL() {
  ReleaseStartResources();
  while (PLIST_ENTRY entry = ExInterlockedRemoveHeadList(&m_IrpFreeList, &m_IrpFreeListLock)) {
    IoFreeIrp(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry));
  }
  KeWaitForSingleObject(&m_TableMutex, Executive, KernelMode, FALSE, nullptr);
  FreeInterfaceTable();
  KeReleaseMutex(&m_TableMutex, FALSE);
  if (m_RequestContextsReady) ExDeleteLookasideListEx(&m_RequestContexts);
}

VOID CUSBCL::ReleaseStartResources() {
  if (m_BusInterface.InterfaceDereference != nullptr) {
    m_BusInterface.InterfaceDereference(m_BusInterface.BusContext);
  }
  RtlZeroMemory(&m_BusInterface, sizeof(m_BusInterface));
  if (m_UsbdHandle != nullptr) USBD_CloseHandle(m_UsbdHandle);
  m_UsbdHandle = nullptr;
  FreeDriverPool(m_ConfigurationDescriptor);
  m_ConfigurationDescriptor = nullptr;
  FreeDriverPool(m_LanguageList);
  m_LanguageList = nullptr;
  m_LanguageListBytes = 0;
}

NTSTATUS CUSBCL::StartFunction(PDEVICE_OBJECT targetDevice, PDEVICE_OBJECT functionDevice,
                               ULONG irpCount) {
  PAGED_CODE();
  if (targetDevice == nullptr) return STATUS_INVALID_PARAMETER;
  m_TargetDevice = targetDevice;
  FillIrpPool(irpCount == 0 ? kDefaultIrpCount : irpCount);

  NTSTATUS status =
      USBD_CreateHandle(functionDevice, targetDevice, USBD_CLIENT_CONTRACT_VERSION_602,
                        kDriverPoolTag, &m_UsbdHandle);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceUsbdHandleFailed, status);
    m_UsbdHandle = nullptr;
    return status;
  }
  status = GetBusInterface();
  if (NT_SUCCESS(status)) status = QueryHighSpeed();
  if (NT_SUCCESS(status)) status = ReadDeviceDescriptor();
  if (NT_SUCCESS(status)) status = ReadConfigurationDescriptor();
  if (NT_SUCCESS(status)) status = ReadLanguageList();
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceStartFunctionFailed, status);
    ReleaseStartResources();
  }
  return status;
}

VOID CUSBCL::FillIrpPool(ULONG count) {
  for (ULONG i = 0; i < count; ++i) {
    PIRP irp = IoAllocateIrp(m_TargetDevice->StackSize, FALSE);
    if (irp == nullptr) {
      // Not fatal: GetIrp allocates when the pool runs dry.
      TRACE_POINT(kTraceIrpPoolAllocationFailed, i, count);
      return;
    }
    ExInterlockedInsertTailList(&m_IrpFreeList, &irp->Tail.Overlay.ListEntry, &m_IrpFreeListLock);
  }
}

NTSTATUS CUSBCL::ReadDescriptor(UCHAR type, UCHAR index, USHORT languageId, PVOID buffer,
                                ULONG length, PULONG received, USBD_STATUS* usbd) {
  *received = 0;
  URB urb;
  RtlZeroMemory(&urb, sizeof(urb));
  UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, index,
                               languageId, buffer, nullptr, length, nullptr);
  NTSTATUS status = SubmitUrbSync(&urb);
  if (usbd != nullptr) *usbd = urb.UrbHeader.Status;
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceDescriptorReadFailed, type, index, status);
    return status;
  }
  // A stack that claims more than the buffer holds is believed no further than the buffer.
  ULONG moved = urb.UrbControlDescriptorRequest.TransferBufferLength;
  *received = moved < length ? moved : length;
  return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::ReadDeviceDescriptor() {
  ULONG received = 0;
  NTSTATUS status = ReadDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &m_DeviceDescriptor,
                                   sizeof(m_DeviceDescriptor), &received);
  if (!NT_SUCCESS(status)) return status;
  if (received != sizeof(USB_DEVICE_DESCRIPTOR)) {
    TRACE_POINT(kTraceDescriptorLengthMismatch, USB_DEVICE_DESCRIPTOR_TYPE, received);
    return STATUS_NOT_SUPPORTED;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::ReadConfigurationDescriptor() {
  USB_CONFIGURATION_DESCRIPTOR header = {};
  ULONG received = 0;
  NTSTATUS status =
      ReadDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, &header, sizeof(header), &received);
  if (!NT_SUCCESS(status)) return status;
  const ULONG total = header.wTotalLength;
  if (received != sizeof(header) || total < sizeof(header)) {
    TRACE_POINT(kTraceDescriptorLengthMismatch, USB_CONFIGURATION_DESCRIPTOR_TYPE, received, total);
    return STATUS_NOT_SUPPORTED;
  }
  auto* copy = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(AllocateDriverPool(total));
  if (copy == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  status = ReadDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, copy, total, &received);
  // Every later walk of the copy is bounded by the wTotalLength in it, so the second answer
  // must carry the same length it was read with.
  if (NT_SUCCESS(status) && (received != total || copy->wTotalLength != total)) {
    TRACE_POINT(kTraceDescriptorLengthMismatch, USB_CONFIGURATION_DESCRIPTOR_TYPE, received,
                copy->wTotalLength);
    status = STATUS_NOT_SUPPORTED;
  }
  if (!NT_SUCCESS(status)) {
    FreeDriverPool(copy);
    return status;
  }
  m_ConfigurationDescriptor = copy;
  m_RemoteWakeup = (copy->bmAttributes & USB_CONFIG_REMOTE_WAKEUP) != 0 ? 1 : 0;
  return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::ReadLanguageList() {
  UCHAR probe[kLanguageListProbeBytes] = {};
  ULONG received = 0;
  USBD_STATUS usbd = USBD_STATUS_SUCCESS;
  NTSTATUS status =
      ReadDescriptor(USB_STRING_DESCRIPTOR_TYPE, 0, 0, probe, sizeof(probe), &received, &usbd);
  // String descriptors are optional: a device without them stalls the language list or sends an
  // empty one, and plays like any other. It starts without languages, and every string request
  // is then refused without asking it.
  const BOOLEAN stalled = !NT_SUCCESS(status) && usbd == USBD_STATUS_STALL_PID;
  const BOOLEAN empty = NT_SUCCESS(status) && received == 2 && probe[0] == 2;
  if (stalled || empty) {
    TRACE_POINT(kTraceNoStringDescriptors, status, received);
    return STATUS_SUCCESS;
  }
  if (!NT_SUCCESS(status)) return status;
  const ULONG length = probe[0];
  if (received != sizeof(probe) || length < 2) {
    TRACE_POINT(kTraceDescriptorLengthMismatch, USB_STRING_DESCRIPTOR_TYPE, received, length);
    return STATUS_NOT_SUPPORTED;
  }
  auto* list = static_cast<PUCHAR>(AllocateDriverPool(length));
  if (list == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  status = ReadDescriptor(USB_STRING_DESCRIPTOR_TYPE, 0, 0, list, length, &received);
  if (!NT_SUCCESS(status)) {
    FreeDriverPool(list);
    return status;
  }
  m_LanguageList = list;
  m_LanguageListBytes = received;
  return STATUS_SUCCESS;
}

ULONG CUSBCL::LanguageCount() const {
  if (m_LanguageList == nullptr || m_LanguageListBytes < 2) return 0;
  // bLength says how much is list; only what arrived is read.
  ULONG bytes = m_LanguageList[0] < m_LanguageListBytes ? m_LanguageList[0] : m_LanguageListBytes;
  return bytes < 2 ? 0 : (bytes - 2) / 2;
}

BOOLEAN CUSBCL::ListsLanguage(USHORT languageId) const {
  const ULONG count = LanguageCount();
  for (ULONG i = 0; i < count; ++i) {
    const UCHAR* at = m_LanguageList + 2 + i * 2;
    if (ReadLe16(at) == languageId) return TRUE;
  }
  return FALSE;
}

NTSTATUS CUSBCL::GetStringDescriptor(UCHAR index, USHORT languageId, USBStringDescriptor* record) {
  PAGED_CODE();
  if (record == nullptr) return STATUS_INVALID_PARAMETER;
  record->Clear();
  if (index == 0 || LanguageCount() == 0 || (languageId != 0 && !ListsLanguage(languageId))) {
    TRACE_POINT(kTraceStringRequestRefused, index, languageId);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  if (languageId == 0) languageId = ReadLe16(m_LanguageList + 2);

  UCHAR probe[4] = {};
  ULONG received = 0;
  NTSTATUS status = ReadDescriptor(USB_STRING_DESCRIPTOR_TYPE, index, languageId, probe,
                                   sizeof(probe), &received);
  if (!NT_SUCCESS(status)) return status;
  const ULONG length = received < 1 ? 0 : probe[0];
  if (length <= 3) return STATUS_SUCCESS;  // no text: an empty record

  // Whole UTF-16 units only: an odd bLength loses its last byte.
  const ULONG size = (length / 2 - 1) * 2 + 2;
  status = record->Allocate(size);
  if (!NT_SUCCESS(status)) return status;
  status = ReadDescriptor(USB_STRING_DESCRIPTOR_TYPE, index, languageId, record->m_Buffer, size,
                          &received);
  if (!NT_SUCCESS(status)) {
    record->Clear();
    return status;
  }
  record->Truncate(received);
  return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::GetSerialNumberString(USBStringDescriptor* record, USHORT languageId) {
  PAGED_CODE();
  return GetStringDescriptor(m_DeviceDescriptor.iSerialNumber, languageId, record);
}
