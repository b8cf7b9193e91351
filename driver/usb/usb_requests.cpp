// CUSBCL: synchronous requests to the device, the bus interface, and the pools of the
// asynchronous transfers.
#include "usb_function.h"
#include "usb_support.h"
#include "usb_trace_points.h"

namespace {

constexpr UCHAR kRequestTypeStandard = 0;
constexpr UCHAR kRequestTypeClass = 1;
constexpr UCHAR kRequestTypeVendor = 2;
constexpr UCHAR kRecipientOther = 3;

// URB functions of class and vendor requests, by recipient (device, interface, endpoint,
// other).
constexpr USHORT kClassFunctions[] = {URB_FUNCTION_CLASS_DEVICE, URB_FUNCTION_CLASS_INTERFACE,
                                      URB_FUNCTION_CLASS_ENDPOINT, URB_FUNCTION_CLASS_OTHER};
constexpr USHORT kVendorFunctions[] = {URB_FUNCTION_VENDOR_DEVICE, URB_FUNCTION_VENDOR_INTERFACE,
                                       URB_FUNCTION_VENDOR_ENDPOINT, URB_FUNCTION_VENDOR_OTHER};

NTSTATUS SignalCompletion(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS CUSBCL::SubmitUrbSync(PURB urb) {
  PAGED_CODE();
  if (urb == nullptr || m_TargetDevice == nullptr) return STATUS_INVALID_PARAMETER;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus = {};
  PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, m_TargetDevice, nullptr,
                                           0, nullptr, 0, TRUE, &done, &ioStatus);
  if (irp == nullptr) {
    TRACE_POINT(kTraceUrbFailed, urb->UrbHeader.Function, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
  NTSTATUS status = IoCallDriver(m_TargetDevice, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    status = ioStatus.Status;
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceUrbFailed, urb->UrbHeader.Function, status,
                static_cast<ULONG>(urb->UrbHeader.Status));
  }
  return status;
}

NTSTATUS CUSBCL::ControlRequest(UCHAR bmRequestType, UCHAR bRequest, USHORT wValue, USHORT wIndex,
                                USHORT wLength, PVOID buffer, PULONG transferred) {
  PAGED_CODE();
  if (transferred != nullptr) *transferred = 0;
  const UCHAR type = (bmRequestType >> 5) & 0x3;
  const UCHAR recipient = bmRequestType & 0x1F;
  if ((type != kRequestTypeClass && type != kRequestTypeVendor) || recipient > kRecipientOther ||
      (wLength != 0 && buffer == nullptr)) {
    TRACE_POINT(kTraceControlRequestRefused, bmRequestType, bRequest, wLength);
    return STATUS_INVALID_PARAMETER;
  }
  static_assert(kRequestTypeStandard == 0, "standard requests have type 0");

  URB urb;
  RtlZeroMemory(&urb, sizeof(urb));
  const USHORT function =
      type == kRequestTypeClass ? kClassFunctions[recipient] : kVendorFunctions[recipient];
  const ULONG flags = (bmRequestType & 0x80) != 0 ? USBD_TRANSFER_DIRECTION_IN : 0;
  UsbBuildVendorRequest(&urb, function, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), flags,
                        0, bRequest, wValue, wIndex, wLength != 0 ? buffer : nullptr, nullptr,
                        wLength, nullptr);
  NTSTATUS status = SubmitUrbSync(&urb);
  if (NT_SUCCESS(status) && transferred != nullptr) {
    const ULONG moved = urb.UrbControlVendorClassRequest.TransferBufferLength;
    *transferred = moved < wLength ? moved : wLength;
  }
  return status;
}

NTSTATUS CUSBCL::SubmitPipeRequest(USHORT function, PUSBD_PIPE_INFORMATION pipe) {
  if (pipe == nullptr) return STATUS_INVALID_PARAMETER;
  if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
    TRACE_POINT(kTracePipeRequestAtRaisedIrql, function, KeGetCurrentIrql());
    return STATUS_UNSUCCESSFUL;
  }
  URB urb;
  RtlZeroMemory(&urb, sizeof(urb));
  urb.UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
  urb.UrbHeader.Function = function;
  urb.UrbPipeRequest.PipeHandle = pipe->PipeHandle;
  return SubmitUrbSync(&urb);
}

NTSTATUS CUSBCL::AbortPipe(PUSBD_PIPE_INFORMATION pipe) {
  return SubmitPipeRequest(URB_FUNCTION_ABORT_PIPE, pipe);
}

NTSTATUS CUSBCL::ResetPipe(PUSBD_PIPE_INFORMATION pipe) {
  return SubmitPipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, pipe);
}

NTSTATUS CUSBCL::QueryBusInterface(PUSB_BUS_INTERFACE_USBDI_V1 busInterface) {
  RtlZeroMemory(busInterface, sizeof(*busInterface));
  PIRP irp = IoAllocateIrp(m_TargetDevice->StackSize, FALSE);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  // A PnP request nobody answers must come back as not supported.
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_PNP;
  next->MinorFunction = IRP_MN_QUERY_INTERFACE;
  next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
  next->Parameters.QueryInterface.Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
  next->Parameters.QueryInterface.Version = USB_BUSIF_USBDI_VERSION_1;
  next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(busInterface);
  next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
  IoSetCompletionRoutine(irp, SignalCompletion, &done, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(m_TargetDevice, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  }
  status = irp->IoStatus.Status;
  IoFreeIrp(irp);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceBusInterfaceFailed, status);
    RtlZeroMemory(busInterface, sizeof(*busInterface));
  }
  return status;
}

NTSTATUS CUSBCL::GetBusInterface() {
  PAGED_CODE();
  if (m_BusInterface.InterfaceDereference != nullptr) {
    m_BusInterface.InterfaceDereference(m_BusInterface.BusContext);
  }
  return QueryBusInterface(&m_BusInterface);
}

NTSTATUS CUSBCL::QueryHighSpeed() {
  PAGED_CODE();
  USB_BUS_INTERFACE_USBDI_V1 busInterface;
  NTSTATUS status = QueryBusInterface(&busInterface);
  if (!NT_SUCCESS(status)) return status;
  if (busInterface.IsDeviceHighSpeed == nullptr) {
    TRACE_POINT(kTraceBusInterfaceFailed, STATUS_NOT_SUPPORTED);
    status = STATUS_NOT_SUPPORTED;
  } else {
    m_HighSpeed = busInterface.IsDeviceHighSpeed(busInterface.BusContext) ? 1 : 0;
  }
  if (busInterface.InterfaceDereference != nullptr) {
    busInterface.InterfaceDereference(busInterface.BusContext);
  }
  return status;
}

PIRP CUSBCL::GetIrp() {
  if (PLIST_ENTRY entry = ExInterlockedRemoveHeadList(&m_IrpFreeList, &m_IrpFreeListLock)) {
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    IoReuseIrp(irp, STATUS_SUCCESS);
    return irp;
  }
  if (m_TargetDevice == nullptr) return nullptr;
  PIRP irp = IoAllocateIrp(m_TargetDevice->StackSize, FALSE);
  if (irp == nullptr) TRACE_POINT(kTraceIrpPoolAllocationFailed, 0, 1);
  return irp;
}

VOID CUSBCL::ReturnIrp(PIRP irp) {
  if (irp == nullptr) return;
  ExInterlockedInsertTailList(&m_IrpFreeList, &irp->Tail.Overlay.ListEntry, &m_IrpFreeListLock);
}

USBRequestContext* CUSBCL::AllocateRequestContext() {
  if (!m_RequestContextsReady) return nullptr;
  auto* context =
      static_cast<USBRequestContext*>(ExAllocateFromLookasideListEx(&m_RequestContexts));
  if (context == nullptr) {
    TRACE_POINT(kTraceRequestContextListFailed, STATUS_INSUFFICIENT_RESOURCES);
    return nullptr;
  }
  RtlZeroMemory(context, sizeof(*context));
  return context;
}

VOID CUSBCL::FreeRequestContext(USBRequestContext* context) {
  if (context != nullptr) ExFreeToLookasideListEx(&m_RequestContexts, context);
}
