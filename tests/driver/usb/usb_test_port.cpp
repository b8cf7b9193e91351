#include "usb_test_port.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kernel/driver_object_host.h"
#include "usb/usbbusif.h"
#include "usb/usbioctl.h"
#include "usb/usbuser.h"

namespace usbfn::test {

TestUsbPort* TestUsbPort::current = nullptr;

namespace {

constexpr char16_t kControllerName[] = u"\\Device\\USBFDO-0";

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

void UrbDone(PURB, NTSTATUS status, void* context) {
  Complete(static_cast<PIRP>(context), status);
}

VOID Reference(PVOID) {
  InterlockedIncrement(&TestUsbPort::current->busInterfaceReferences);
}
VOID Dereference(PVOID) {
  InterlockedDecrement(&TestUsbPort::current->busInterfaceReferences);
}
NTSTATUS QueryBusTime(PVOID context, PULONG frame) {
  *frame = static_cast<sim::usb::HostController*>(context)->CurrentFrame();
  return STATUS_SUCCESS;
}
BOOLEAN IsDeviceHighSpeed(PVOID context) {
  return static_cast<sim::usb::HostController*>(context)->DeviceSpeed() ==
         sim::devices::UsbSpeed::High;
}

NTSTATUS ControllerName(PIRP irp, PIO_STACK_LOCATION stack) {
  const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const ULONG textBytes = sizeof(kControllerName) - sizeof(char16_t);
  auto* name = static_cast<PUSB_HUB_NAME>(irp->AssociatedIrp.SystemBuffer);
  if (name == nullptr || room < sizeof(ULONG)) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
  name->ActualLength = sizeof(ULONG) + textBytes;
  ULONG copied = room - sizeof(ULONG) < textBytes ? room - sizeof(ULONG) : textBytes;
  std::memcpy(name->HubName, kControllerName, copied);
  return Complete(irp, STATUS_SUCCESS, sizeof(ULONG) + copied);
}

NTSTATUS HubDispatch(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  TestUsbPort& port = *TestUsbPort::current;
  if (stack->MajorFunction == IRP_MJ_PNP) {
    if (stack->MinorFunction != IRP_MN_QUERY_INTERFACE ||
        *stack->Parameters.QueryInterface.InterfaceType != USB_BUS_INTERFACE_USBDI_GUID ||
        stack->Parameters.QueryInterface.Version != USB_BUSIF_USBDI_VERSION_1 ||
        stack->Parameters.QueryInterface.Size < sizeof(USB_BUS_INTERFACE_USBDI_V1)) {
      NTSTATUS status = irp->IoStatus.Status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    }
    auto* bus =
        reinterpret_cast<PUSB_BUS_INTERFACE_USBDI_V1>(stack->Parameters.QueryInterface.Interface);
    std::memset(bus, 0, sizeof(*bus));
    bus->Size = sizeof(*bus);
    bus->Version = USB_BUSIF_USBDI_VERSION_1;
    bus->BusContext = &port.controller();
    bus->InterfaceReference = Reference;
    bus->InterfaceDereference = Dereference;
    bus->QueryBusTime = QueryBusTime;
    bus->IsDeviceHighSpeed = IsDeviceHighSpeed;
    Reference(bus->BusContext);
    return Complete(irp, STATUS_SUCCESS);
  }
  if (stack->MajorFunction != IRP_MJ_INTERNAL_DEVICE_CONTROL)
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB: {
      ++port.urbsSeen;
      auto* urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
      IoMarkIrpPending(irp);
      NTSTATUS status = port.controller().SubmitUrb(urb, UrbDone, irp);
      if (status != STATUS_PENDING) Complete(irp, status);
      return STATUS_PENDING;
    }
    case IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME:
      return ControllerName(irp, stack);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

NTSTATUS ControllerDispatch(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return Complete(irp, STATUS_SUCCESS);
  auto* request = static_cast<PUSBUSER_CONTROLLER_INFO_0>(irp->AssociatedIrp.SystemBuffer);
  if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_USB_USER_REQUEST ||
      stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(*request) ||
      request->Header.UsbUserRequest != USBUSER_GET_CONTROLLER_INFO_0) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
  const sim::usb::ControllerIdentity& id = TestUsbPort::current->controller().Identity();
  request->Header.UsbUserStatusCode = UsbUserSuccess;
  request->Header.ActualBufferLength = sizeof(*request);
  request->Info0 = {id.pciVendorId, id.pciDeviceId, id.pciRevision, id.rootPorts, id.flavor, 0};
  return Complete(irp, STATUS_SUCCESS, sizeof(*request));
}

}  // namespace

void TestUsbPort::Build(std::unique_ptr<sim::devices::UsbDevice> device,
                        sim::devices::UsbSpeed busSpeed) {
  current = this;
  device_ = std::move(device);
  controller_ = std::make_unique<sim::usb::HostController>(busSpeed);
  controller_->Attach(device_.get());
  ASSERT_EQ(IoHostCreateDriver(u"testusbhub", &hubDriver_), STATUS_SUCCESS);
  ASSERT_EQ(IoHostCreateDriver(u"testusbport", &controllerDriver_), STATUS_SUCCESS);
  ASSERT_EQ(IoHostCreateDriver(u"testaudio", &functionDriver_), STATUS_SUCCESS);
  for (auto& entry : hubDriver_->MajorFunction) entry = HubDispatch;
  for (auto& entry : controllerDriver_->MajorFunction) entry = ControllerDispatch;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, reinterpret_cast<PCWSTR>(kControllerName));
  ASSERT_EQ(IoCreateDevice(controllerDriver_, 0, &name, FILE_DEVICE_CONTROLLER, 0, FALSE,
                           &controllerDevice),
            STATUS_SUCCESS);
  controllerDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  ASSERT_EQ(IoCreateDevice(hubDriver_, 0, nullptr, FILE_DEVICE_USB, FILE_AUTOGENERATED_DEVICE_NAME,
                           FALSE, &pdo),
            STATUS_SUCCESS);
  ASSERT_EQ(IoCreateDevice(functionDriver_, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &fdo),
            STATUS_SUCCESS);
  ASSERT_EQ(IoAttachDeviceToDeviceStack(fdo, pdo), pdo);
  pdo->Flags &= ~DO_DEVICE_INITIALIZING;
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
}

void TestUsbPort::TearDown() {
  if (fdo != nullptr) {
    IoDetachDevice(pdo);
    IoDeleteDevice(fdo);
  }
  if (pdo != nullptr) IoDeleteDevice(pdo);
  if (controllerDevice != nullptr) IoDeleteDevice(controllerDevice);
  for (PDRIVER_OBJECT driver : {functionDriver_, hubDriver_, controllerDriver_}) {
    if (driver != nullptr) IoHostUnloadDriver(driver);
  }
  controller_.reset();
  device_.reset();
  current = nullptr;
}

}  // namespace usbfn::test
