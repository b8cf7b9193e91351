// Dispatch of the USB stack's device objects: URBs to the backend, the USBDI bus interface,
// the controller's name, and the controller's user requests.
#include "usb/usb_port.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "kernel/driver_object_host.h"
#include "kernel/irp.h"
#include "kernel/rtl_string.h"
#include "usb/usbbusif.h"
#include "usb/usbdlib.h"
#include "usb/usbioctl.h"

namespace tarnlink::usb {
namespace {

// The controller's name as IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME returns it: \Device\USBFDO-n
// for the machine's n-th controller.
struct ControllerName {
  char16_t text[24];
  ULONG bytes;  // without the terminator
};

std::u16string Numbered(const char* prefix, ULONG index) {
  char ascii[24];
  const int length =
      std::snprintf(ascii, sizeof ascii, "%s%lu", prefix, static_cast<unsigned long>(index));
  return std::u16string(ascii, ascii + length);
}

ControllerName NameOfController(ULONG index) {
  const std::u16string text = Numbered("\\Device\\USBFDO-", index);
  ControllerName name = {};
  text.copy(name.text, text.size());
  name.bytes = static_cast<ULONG>(text.size() * sizeof(char16_t));
  return name;
}

struct PortExtension {
  UsbPortBackend* backend;
  bool controller;
  ControllerName controllerName;
};

PortExtension* Extension(PDEVICE_OBJECT device) {
  return static_cast<PortExtension*>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

void UrbDone(PURB, NTSTATUS status, void* context) {
  auto* irp = static_cast<PIRP>(context);
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

VOID NoReference(PVOID) {}
NTSTATUS QueryBusTime(PVOID context, PULONG frame) {
  if (frame == nullptr) return STATUS_INVALID_PARAMETER;
  *frame = static_cast<PortExtension*>(context)->backend->CurrentFrame();
  return STATUS_SUCCESS;
}
BOOLEAN IsDeviceHighSpeed(PVOID context) {
  return static_cast<PortExtension*>(context)->backend->DeviceHighSpeed() ? TRUE : FALSE;
}
VOID GetUsbdiVersion(PVOID, PUSBD_VERSION_INFORMATION version, PULONG capabilities) {
  USBD_GetUSBDIVersion(version);
  if (capabilities != nullptr) *capabilities = 0;
}
NTSTATUS SubmitIsoOutUrb(PVOID, PURB) {
  return STATUS_NOT_SUPPORTED;
}
NTSTATUS QueryBusInformation(PVOID, ULONG, PVOID, PULONG, PULONG) {
  return STATUS_NOT_SUPPORTED;
}

NTSTATUS QueryInterface(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const auto& query = stack->Parameters.QueryInterface;
  if (query.InterfaceType == nullptr || *query.InterfaceType != USB_BUS_INTERFACE_USBDI_GUID ||
      query.Version != USB_BUSIF_USBDI_VERSION_1 || query.Interface == nullptr ||
      query.Size < sizeof(USB_BUS_INTERFACE_USBDI_V1)) {
    // Not ours to answer: the request keeps the status it came with.
    NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  auto* bus = reinterpret_cast<PUSB_BUS_INTERFACE_USBDI_V1>(query.Interface);
  bus->Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
  bus->Version = USB_BUSIF_USBDI_VERSION_1;
  bus->BusContext = Extension(device);
  bus->InterfaceReference = NoReference;
  bus->InterfaceDereference = NoReference;
  bus->GetUSBDIVersion = GetUsbdiVersion;
  bus->QueryBusTime = QueryBusTime;
  bus->SubmitIsoOutUrb = SubmitIsoOutUrb;
  bus->QueryBusInformation = QueryBusInformation;
  bus->IsDeviceHighSpeed = IsDeviceHighSpeed;
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS AnswerControllerName(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ControllerName& name = Extension(device)->controllerName;
  const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* out = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  if (out == nullptr || room < sizeof(ULONG)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  // ActualLength is the name's byte count; as much of the name as fits follows it.
  const ULONG actual = name.bytes;
  std::memcpy(out, &actual, sizeof(actual));
  const ULONG copied = room - sizeof(ULONG) < actual ? room - sizeof(ULONG) : actual;
  std::memcpy(out + sizeof(ULONG), name.text, copied);
  return Complete(irp, STATUS_SUCCESS, sizeof(ULONG) + copied);
}

NTSTATUS UserRequest(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const auto& control = stack->Parameters.DeviceIoControl;
  auto* header = static_cast<PUSBUSER_REQUEST_HEADER>(irp->AssociatedIrp.SystemBuffer);
  if (header == nullptr || control.InputBufferLength < sizeof(USBUSER_REQUEST_HEADER) ||
      control.OutputBufferLength < sizeof(USBUSER_REQUEST_HEADER)) {
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  const ULONG usable = control.InputBufferLength < control.OutputBufferLength
                           ? control.InputBufferLength
                           : control.OutputBufferLength;
  if (header->UsbUserRequest != USBUSER_GET_CONTROLLER_INFO_0) {
    header->UsbUserStatusCode = UsbUserInvalidRequestCode;
  } else if (header->RequestBufferLength < sizeof(USBUSER_CONTROLLER_INFO_0) ||
             usable < sizeof(USBUSER_CONTROLLER_INFO_0)) {
    header->UsbUserStatusCode = UsbUserBufferTooSmall;
  } else {
    auto* request = reinterpret_cast<PUSBUSER_CONTROLLER_INFO_0>(header);
    request->Info0 = Extension(device)->backend->ControllerInfo();
    header->UsbUserStatusCode = UsbUserSuccess;
    header->ActualBufferLength = sizeof(USBUSER_CONTROLLER_INFO_0);
    return Complete(irp, STATUS_SUCCESS, sizeof(USBUSER_CONTROLLER_INFO_0));
  }
  header->ActualBufferLength = sizeof(USBUSER_REQUEST_HEADER);
  return Complete(irp, STATUS_SUCCESS, sizeof(USBUSER_REQUEST_HEADER));
}

NTSTATUS DispatchInternal(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (Extension(device)->controller) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB: {
      auto* urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
      if (urb == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      // Pending first: the completion may run before the backend's call returns.
      IoMarkIrpPending(irp);
      NTSTATUS status = Extension(device)->backend->SubmitUrb(urb, UrbDone, irp);
      if (status != STATUS_PENDING) Complete(irp, status, 0);
      return STATUS_PENDING;
    }
    case IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME:
      return AnswerControllerName(device, irp);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (Extension(device)->controller &&
      stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_USB_USER_REQUEST) {
    return UserRequest(device, irp);
  }
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (!Extension(device)->controller && stack->MinorFunction == IRP_MN_QUERY_INTERFACE) {
    return QueryInterface(device, irp);
  }
  // The bus side of the device's life: it starts, stops and goes whenever the function
  // driver above says so. Everything else keeps the status the request arrived with.
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_CAPABILITIES:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  NTSTATUS status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS DispatchPower(PDEVICE_OBJECT, PIRP irp) {
  UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
  if (minor == IRP_MN_SET_POWER || minor == IRP_MN_QUERY_POWER)
    irp->IoStatus.Status = STATUS_SUCCESS;
  NTSTATUS status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS DispatchOpenClose(PDEVICE_OBJECT, PIRP irp) {
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS CreatePortDevice(UsbStack* stack, UsbPortBackend* backend, bool controller,
                          const ControllerName& controllerName, PDEVICE_OBJECT* device) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, reinterpret_cast<PCWSTR>(controllerName.text));
  NTSTATUS status = IoCreateDevice(stack->driver, sizeof(PortExtension),
                                   controller ? &name : nullptr, FILE_DEVICE_USB,
                                   controller ? 0 : FILE_AUTOGENERATED_DEVICE_NAME, FALSE, device);
  if (!NT_SUCCESS(status)) return status;
  *Extension(*device) = {backend, controller, controllerName};
  (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS CreateUsbStack(UsbPortBackend* backend, UsbStack* stack, ULONG index) {
  *stack = {};
  // Each controller has a port driver object of its own, so one can go without the others.
  const std::u16string driverName = index == 0 ? u"usbport" : Numbered("usbport", index);
  NTSTATUS status = IoHostCreateDriver(driverName, &stack->driver);
  if (!NT_SUCCESS(status)) return status;
  stack->driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
  stack->driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchOpenClose;
  stack->driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
  stack->driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternal;
  stack->driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  stack->driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  stack->driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  const ControllerName name = NameOfController(index);
  status = CreatePortDevice(stack, backend, true, name, &stack->controller);
  if (NT_SUCCESS(status)) status = CreatePortDevice(stack, backend, false, name, &stack->pdo);
  if (!NT_SUCCESS(status)) DeleteUsbStack(stack);
  return status;
}

VOID DeleteUsbStack(UsbStack* stack) {
  if (stack->pdo != nullptr) IoDeleteDevice(stack->pdo);
  if (stack->controller != nullptr) IoDeleteDevice(stack->controller);
  if (stack->driver != nullptr) IoHostUnloadDriver(stack->driver);
  *stack = {};
}

}  // namespace tarnlink::usb
