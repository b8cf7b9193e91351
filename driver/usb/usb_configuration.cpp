// CUSBCL: selecting the configuration and alternate settings, and the table of interface and
// pipe information that results.
#include "usb_function.h"
#include "usb_support.h"
#include "usb_trace_points.h"

namespace {

// An interface record from the stack is kept only when it holds the pipes it claims.
BOOLEAN InterfaceRecordFits(const USBD_INTERFACE_INFORMATION* info, SIZE_T room) {
  if (info == nullptr || room < GET_USBD_INTERFACE_SIZE(0)) return FALSE;
  const SIZE_T needed = GET_USBD_INTERFACE_SIZE(static_cast<SIZE_T>(info->NumberOfPipes));
  return info->Length >= needed && info->Length <= room ? TRUE : FALSE;
}

PUSBD_INTERFACE_INFORMATION CopyInterfaceRecord(const USBD_INTERFACE_INFORMATION* info) {
  auto* copy = static_cast<PUSBD_INTERFACE_INFORMATION>(AllocateDriverPool(info->Length));
  if (copy != nullptr) RtlCopyMemory(copy, info, info->Length);
  return copy;
}

class TableLock {
 public:
  explicit TableLock(PKMUTEX mutex) : mutex_(mutex) {
    KeWaitForSingleObject(mutex_, Executive, KernelMode, FALSE, nullptr);
  }
  ~TableLock() { KeReleaseMutex(mutex_, FALSE); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  PKMUTEX mutex_;
};

}  // namespace

PUSBD_INTERFACE_LIST_ENTRY CUSBCL::CreateInterfaceList(PLONG count) {
  if (count == nullptr) return nullptr;
  *count = 0;
  PUSB_CONFIGURATION_DESCRIPTOR config = m_ConfigurationDescriptor;
  if (config == nullptr) return nullptr;

  // Interface numbers need not run from 0 to bNumInterfaces - 1: the list is made of the
  // alternate settings 0 actually present, each number once.
  LONG found = 0;
  for (PUSB_INTERFACE_DESCRIPTOR d =
           USBD_ParseConfigurationDescriptorEx(config, config, -1, 0, -1, -1, -1);
       d != nullptr; d = USBD_ParseConfigurationDescriptorEx(
                         config, reinterpret_cast<PUCHAR>(d) + d->bLength, -1, 0, -1, -1, -1)) {
    ++found;
  }
  if (found == 0) {
    TRACE_POINT(kTraceNoInterfaces, config->bNumInterfaces);
    return nullptr;
  }
  auto* list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(
      AllocateDriverPool(sizeof(USBD_INTERFACE_LIST_ENTRY) * (found + 1)));
  if (list == nullptr) return nullptr;

  LONG used = 0;
  for (PUSB_INTERFACE_DESCRIPTOR d =
           USBD_ParseConfigurationDescriptorEx(config, config, -1, 0, -1, -1, -1);
       d != nullptr && used < found;
       d = USBD_ParseConfigurationDescriptorEx(config, reinterpret_cast<PUCHAR>(d) + d->bLength, -1,
                                               0, -1, -1, -1)) {
    BOOLEAN duplicate = FALSE;
    for (LONG i = 0; i < used; ++i) {
      if (list[i].InterfaceDescriptor->bInterfaceNumber == d->bInterfaceNumber) duplicate = TRUE;
    }
    if (duplicate) {
      TRACE_POINT(kTraceDuplicateInterface, d->bInterfaceNumber);
      continue;
    }
    list[used++].InterfaceDescriptor = d;
  }
  if (used != config->bNumInterfaces)
    TRACE_POINT(kTraceInterfaceCountMismatch, used, config->bNumInterfaces);
  *count = used;
  return list;
}

VOID CUSBCL::FreeInterfaceTable() {
  if (m_InterfaceTable != nullptr) {
    for (LONG i = 0; i < m_InterfaceCount; ++i) FreeDriverPool(m_InterfaceTable[i]);
    FreeDriverPool(m_InterfaceTable);
  }
  m_InterfaceTable = nullptr;
  m_InterfaceCount = 0;
}

NTSTATUS CUSBCL::ConfigurationRequest(PUSBD_INTERFACE_LIST_ENTRY list, LONG count) {
  PAGED_CODE();
  if (list == nullptr || count <= 0 || m_ConfigurationDescriptor == nullptr)
    return STATUS_INVALID_PARAMETER;
  PURB urb = USBD_CreateConfigurationRequestEx(m_ConfigurationDescriptor, list);
  if (urb == nullptr) {
    TRACE_POINT(kTraceConfigurationRequestFailed, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = SubmitUrbSync(urb);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceConfigurationRequestFailed, status);
    ExFreePool(urb);
    return status;
  }

  const auto* urbEnd = reinterpret_cast<const UCHAR*>(urb) + urb->UrbHeader.Length;
  {
    TableLock lock(&m_TableMutex);
    FreeInterfaceTable();
    m_ConfigurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
    m_InterfaceTable = static_cast<PUSBD_INTERFACE_INFORMATION*>(
        AllocateDriverPool(sizeof(PUSBD_INTERFACE_INFORMATION) * count));
    if (m_InterfaceTable == nullptr) {
      status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
      m_InterfaceCount = count;
      for (LONG i = 0; i < count && NT_SUCCESS(status); ++i) {
        const USBD_INTERFACE_INFORMATION* info = list[i].Interface;
        // The list ends at its null entry whatever count says.
        if (list[i].InterfaceDescriptor == nullptr || info == nullptr ||
            !InterfaceRecordFits(info, urbEnd - reinterpret_cast<const UCHAR*>(info))) {
          TRACE_POINT(kTraceInterfaceRecordInvalid, i);
          status = STATUS_UNSUCCESSFUL;
          break;
        }
        m_InterfaceTable[i] = CopyInterfaceRecord(info);
        if (m_InterfaceTable[i] == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
      }
    }
    if (!NT_SUCCESS(status)) {
      TRACE_POINT(kTraceConfigurationRequestFailed, status);
      FreeInterfaceTable();
    }
  }
  ExFreePool(urb);
  return status;
}

NTSTATUS CUSBCL::SelectAlternate(UCHAR interfaceNumber, UCHAR alternateSetting) {
  PAGED_CODE();
  TableLock lock(&m_TableMutex);
  if (m_InterfaceTable == nullptr) return STATUS_UNSUCCESSFUL;
  LONG position = -1;
  for (LONG i = 0; i < m_InterfaceCount; ++i) {
    if (m_InterfaceTable[i] == nullptr) return STATUS_UNSUCCESSFUL;
    if (m_InterfaceTable[i]->InterfaceNumber == interfaceNumber) {
      position = i;
      break;
    }
  }
  if (position < 0) {
    TRACE_POINT(kTraceSelectAlternateUnknown, interfaceNumber, alternateSetting);
    return STATUS_INVALID_PARAMETER;
  }
  PUSB_INTERFACE_DESCRIPTOR descriptor =
      USBD_ParseConfigurationDescriptorEx(m_ConfigurationDescriptor, m_ConfigurationDescriptor,
                                          interfaceNumber, alternateSetting, -1, -1, -1);
  if (descriptor == nullptr) {
    TRACE_POINT(kTraceSelectAlternateUnknown, interfaceNumber, alternateSetting);
    return STATUS_INVALID_PARAMETER;
  }

  const SIZE_T pipes = descriptor->bNumEndpoints;
  const SIZE_T urbLength = GET_SELECT_INTERFACE_REQUEST_SIZE(pipes);
  const SIZE_T urbBytes = urbLength < sizeof(struct _URB_SELECT_INTERFACE)
                              ? sizeof(struct _URB_SELECT_INTERFACE)
                              : urbLength;
  auto* urb = static_cast<PURB>(AllocateDriverPool(urbBytes));
  if (urb == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  UsbBuildSelectInterfaceRequest(urb, static_cast<USHORT>(urbLength), m_ConfigurationHandle,
                                 interfaceNumber, alternateSetting);
  NTSTATUS status = SubmitUrbSync(urb);
  if (NT_SUCCESS(status)) {
    const USBD_INTERFACE_INFORMATION* info = &urb->UrbSelectInterface.Interface;
    const SIZE_T room = urbLength - FIELD_OFFSET(struct _URB_SELECT_INTERFACE, Interface);
    PUSBD_INTERFACE_INFORMATION copy =
        InterfaceRecordFits(info, room) ? CopyInterfaceRecord(info) : nullptr;
    if (copy == nullptr) {
      status =
          InterfaceRecordFits(info, room) ? STATUS_INSUFFICIENT_RESOURCES : STATUS_UNSUCCESSFUL;
    } else {
      FreeDriverPool(m_InterfaceTable[position]);
      m_InterfaceTable[position] = copy;
    }
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceSelectAlternateFailed, interfaceNumber, alternateSetting, status);
  }
  FreeDriverPool(urb);
  return status;
}

PUSBD_PIPE_INFORMATION CUSBCL::FindPipe(UCHAR endpointAddress) {
  PAGED_CODE();
  TableLock lock(&m_TableMutex);
  for (LONG i = 0; m_InterfaceTable != nullptr && i < m_InterfaceCount; ++i) {
    PUSBD_INTERFACE_INFORMATION info = m_InterfaceTable[i];
    for (ULONG p = 0; info != nullptr && p < info->NumberOfPipes; ++p) {
      if (info->Pipes[p].EndpointAddress == endpointAddress) return &info->Pipes[p];
    }
  }
  return nullptr;
}
