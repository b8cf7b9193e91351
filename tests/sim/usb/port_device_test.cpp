// The device objects of the USB stack as a function driver reaches them: URBs through
// IRP_MJ_INTERNAL_DEVICE_CONTROL, the USBDI bus interface, and the controller found by name.
#include <gmock/gmock.h>

#include "bus_fixture.h"
#include "kernel/device_object.h"
#include "kernel/irp.h"
#include "usb/usb_port.h"
#include "usb/usbbusif.h"
#include "usb/usbioctl.h"

namespace sim::usb::testing {
namespace {

class PortDeviceTest : public BusTest {
 protected:
  void SetUp() override {
    BusTest::SetUp();
    ASSERT_EQ(tarnlink::usb::CreateUsbStack(controller_.get(), &stack_), STATUS_SUCCESS);
  }
  void TearDown() override {
    tarnlink::usb::DeleteUsbStack(&stack_);
    BusTest::TearDown();
  }
  // A device control to the target, waited for as a driver waits at PASSIVE_LEVEL.
  static NTSTATUS Send(PDEVICE_OBJECT target, ULONG code, bool internal, PVOID buffer, ULONG length,
                       PVOID argument1, ULONG_PTR* information = nullptr) {
    KEVENT event;
    IO_STATUS_BLOCK iosb{};
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, target, buffer, length, buffer, length,
                                             internal ? TRUE : FALSE, &event, &iosb);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    if (argument1 != nullptr)
      IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument1;
    if (IoCallDriver(target, irp) == STATUS_PENDING) {
      KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    }
    if (information != nullptr) *information = iosb.Information;
    return iosb.Status;
  }
  static NTSTATUS OnQueryDone(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  NTSTATUS QueryBusInterface(USHORT version, USB_BUS_INTERFACE_USBDI_V1* bus) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp = IoAllocateIrp(stack_.pdo->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    next->Parameters.QueryInterface.Size = sizeof(*bus);
    next->Parameters.QueryInterface.Version = version;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(bus);
    IoSetCompletionRoutine(irp, OnQueryDone, &event, TRUE, TRUE, TRUE);
    if (IoCallDriver(stack_.pdo, irp) == STATUS_PENDING) {
      KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    }
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
  }
  tarnlink::usb::UsbStack stack_;
};

TEST_F(PortDeviceTest, UrbsSentToThePdoCompleteWithTheirStatus) {
  ASSERT_TRUE(RunInThread([&] {
    USB_DEVICE_DESCRIPTOR device{};
    URB urb{};
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &device, nullptr, 18, nullptr);
    EXPECT_EQ(Send(stack_.pdo, IOCTL_INTERNAL_USB_SUBMIT_URB, true, nullptr, 0, &urb),
              STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, 18u);
    EXPECT_EQ(device.idVendor, 0x7A31);
    URB bad{};
    bad.UrbHeader.Function = 0x7777;
    bad.UrbHeader.Length = sizeof(struct _URB_HEADER);
    EXPECT_EQ(Send(stack_.pdo, IOCTL_INTERNAL_USB_SUBMIT_URB, true, nullptr, 0, &bad),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(bad.UrbHeader.Status, USBD_STATUS_INVALID_URB_FUNCTION);
  }));
}

TEST_F(PortDeviceTest, BusInterfaceVersionOneTellsSpeedAndFrame) {
  ASSERT_TRUE(kernel().RunFor(20 * kMs));
  ASSERT_TRUE(RunInThread([&] {
    USB_BUS_INTERFACE_USBDI_V1 bus{};
    EXPECT_EQ(QueryBusInterface(USB_BUSIF_USBDI_VERSION_3, &bus), STATUS_NOT_SUPPORTED);
    ASSERT_EQ(QueryBusInterface(USB_BUSIF_USBDI_VERSION_1, &bus), STATUS_SUCCESS);
    EXPECT_EQ(bus.Size, 72);
    EXPECT_TRUE(bus.IsDeviceHighSpeed(bus.BusContext));
    ULONG frame = 0;
    EXPECT_EQ(bus.QueryBusTime(bus.BusContext, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame, controller_->CurrentFrame());
    EXPECT_EQ(frame, 20u);
  }));
}

TEST_F(PortDeviceTest, ControllerFoundByNameAnswersItsInformation) {
  ASSERT_TRUE(RunInThread([&] {
    UCHAR probe[6] = {};
    ULONG_PTR information = 0;
    ASSERT_EQ(Send(stack_.pdo, IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME, true, probe, sizeof(probe),
                   nullptr, &information),
              STATUS_SUCCESS);
    ULONG actual = 0;
    std::memcpy(&actual, probe, sizeof(actual));
    std::vector<UCHAR> name(actual + 4);
    ASSERT_EQ(Send(stack_.pdo, IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME, true, name.data(),
                   static_cast<ULONG>(name.size()), nullptr),
              STATUS_SUCCESS);
    UNICODE_STRING path;
    path.Length = path.MaximumLength = static_cast<USHORT>(actual);
    path.Buffer = reinterpret_cast<PWCHAR>(name.data() + 4);
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT hc = nullptr;
    ASSERT_EQ(IoGetDeviceObjectPointer(&path, FILE_ALL_ACCESS, &file, &hc), STATUS_SUCCESS);
    EXPECT_EQ(hc, stack_.controller);
    USBUSER_CONTROLLER_INFO_0 request{};
    request.Header.UsbUserRequest = USBUSER_GET_CONTROLLER_INFO_0;
    request.Header.RequestBufferLength = sizeof(request);
    EXPECT_EQ(Send(hc, IOCTL_USB_USER_REQUEST, false, &request, sizeof(request), nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(request.Header.UsbUserStatusCode, UsbUserSuccess);
    EXPECT_EQ(request.Info0.PciVendorId, 0x8086u);
    EXPECT_EQ(request.Info0.ControllerFlavor, EHCI_Generic);
    ObDereferenceObject(file);
  }));
}

}  // namespace
}  // namespace sim::usb::testing
