// CUSBCL: which host controller the device hangs off. The adapter works around chipset
// trouble by the controller's PCI identity.
#include "usb_function.h"
#include "usb_support.h"
#include "usb_trace_points.h"

namespace {

constexpr ULONG kNameHeaderBytes = FIELD_OFFSET(USB_HUB_NAME, HubName);
constexpr ULONG kNameProbeBytes = sizeof(USB_HUB_NAME);

// One device control to device, waited for; *returned is the output bytes written.
NTSTATUS SendDeviceControl(PDEVICE_OBJECT device, PFILE_OBJECT file, ULONG code, BOOLEAN internal,
                           PVOID input, ULONG inputBytes, PVOID output, ULONG outputBytes,
                           PULONG returned) {
  *returned = 0;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus = {};
  PIRP irp = IoBuildDeviceIoControlRequest(code, device, input, inputBytes, output, outputBytes,
                                           internal, &done, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IoGetNextIrpStackLocation(irp)->FileObject = file;
  NTSTATUS status = IoCallDriver(device, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    status = ioStatus.Status;
  }
  if (NT_SUCCESS(status)) {
    *returned =
        ioStatus.Information < outputBytes ? static_cast<ULONG>(ioStatus.Information) : outputBytes;
  }
  return status;
}

}  // namespace

NTSTATUS CUSBCL::GetHostControllerInfo(PUSB_CONTROLLER_INFO_0 info) {
  PAGED_CODE();
  if (info == nullptr || m_TargetDevice == nullptr) return STATUS_INVALID_PARAMETER;

  // The name's size first, then the name.
  USB_HUB_NAME probe = {};
  ULONG returned = 0;
  NTSTATUS status =
      SendDeviceControl(m_TargetDevice, nullptr, IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME, TRUE,
                        nullptr, 0, &probe, kNameProbeBytes, &returned);
  if (NT_SUCCESS(status) && (returned < kNameHeaderBytes || probe.ActualLength == 0 ||
                             probe.ActualLength > UNICODE_STRING_MAX_BYTES)) {
    status = STATUS_UNSUCCESSFUL;
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceControllerNameFailed, status, probe.ActualLength);
    return status;
  }
  const ULONG nameBytes = probe.ActualLength + kNameHeaderBytes;
  auto* name = static_cast<PUSB_HUB_NAME>(AllocateDriverPool(nameBytes));
  if (name == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  status = SendDeviceControl(m_TargetDevice, nullptr, IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME, TRUE,
                             nullptr, 0, name, nameBytes, &returned);
  if (NT_SUCCESS(status) && returned <= kNameHeaderBytes) status = STATUS_UNSUCCESSFUL;
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceControllerNameFailed, status, returned);
    FreeDriverPool(name);
    return status;
  }

  // The text after the count, no longer than the count says nor than what arrived, and up to
  // the first terminator whichever way the stack counted it.
  ULONG textBytes = name->ActualLength & 0xFFFF;
  if (textBytes > returned - kNameHeaderBytes) textBytes = returned - kNameHeaderBytes;
  ULONG characters = textBytes / sizeof(WCHAR);
  for (ULONG i = 0; i < characters; ++i) {
    if (name->HubName[i] == 0) characters = i;
  }
  UNICODE_STRING controllerName;
  controllerName.Buffer = name->HubName;
  controllerName.Length = static_cast<USHORT>(characters * sizeof(WCHAR));
  controllerName.MaximumLength = controllerName.Length;

  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT controller = nullptr;
  status = IoGetDeviceObjectPointer(&controllerName, FILE_ALL_ACCESS, &file, &controller);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceControllerOpenFailed, status);
    FreeDriverPool(name);
    return status;
  }

  auto* request = static_cast<PUSBUSER_CONTROLLER_INFO_0>(
      AllocateDriverPool(sizeof(USBUSER_CONTROLLER_INFO_0)));
  if (request == nullptr) {
    status = STATUS_INSUFFICIENT_RESOURCES;
  } else {
    request->Header.UsbUserRequest = USBUSER_GET_CONTROLLER_INFO_0;
    request->Header.RequestBufferLength = sizeof(USBUSER_CONTROLLER_INFO_0);
    status = SendDeviceControl(controller, file, IOCTL_USB_USER_REQUEST, FALSE, request,
                               sizeof(*request), request, sizeof(*request), &returned);
    if (NT_SUCCESS(status) &&
        (returned < sizeof(*request) || request->Header.UsbUserStatusCode != UsbUserSuccess)) {
      status = STATUS_UNSUCCESSFUL;
    }
    if (NT_SUCCESS(status)) {
      RtlCopyMemory(info, &request->Info0, sizeof(*info));
    } else {
      TRACE_POINT(kTraceControllerInfoFailed, status, returned,
                  static_cast<ULONG>(request->Header.UsbUserStatusCode));
    }
  }
  ObDereferenceObject(file);
  FreeDriverPool(request);
  FreeDriverPool(name);
  return status;
}
