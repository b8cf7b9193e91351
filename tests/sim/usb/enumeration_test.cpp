// Requests on the default pipe: descriptors, selecting configurations and alternate settings
// against the descriptors, stalls, and controller identity.
#include <gmock/gmock.h>

#include "bus_fixture.h"

namespace sim::usb::testing {
namespace {

TEST_F(BusTest, ReadsDescriptorsAndTakesAFrameForEachRequest) {
  USB_DEVICE_DESCRIPTOR device{};
  ULONG got = 0;
  const uint64_t before = Now();
  ASSERT_EQ(GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, &device, 18, &got), STATUS_SUCCESS);
  EXPECT_EQ(got, 18u);
  EXPECT_EQ(device.idVendor, 0x7A31);
  EXPECT_EQ(Now() - before, 1 * kMs);

  // A short-answer fault cuts the configuration read, as a flaky device does.
  controller_->Faults().shortDescriptor[USB_CONFIGURATION_DESCRIPTOR_TYPE] = 1;
  USB_CONFIGURATION_DESCRIPTOR head{};
  ASSERT_EQ(GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, &head, 9, &got), STATUS_SUCCESS);
  EXPECT_EQ(got, 8u);
}

TEST_F(BusTest, SelectedSettingsGetWorkingPipesAndMissingOnesFail) {
  ASSERT_EQ(Configure(), STATUS_SUCCESS);
  ASSERT_NE(configHandle_, nullptr);
  const devices::AltSettingSpec& alt = device_->Spec().streams[0].alts[2];

  std::vector<UCHAR> storage;
  ASSERT_EQ(SelectInterface(1, 3, &storage), STATUS_SUCCESS);
  PUSBD_INTERFACE_INFORMATION info = Record(storage);
  ASSERT_EQ(info->NumberOfPipes, 2u);
  EXPECT_EQ(info->Pipes[0].EndpointAddress, alt.data.bEndpointAddress);
  EXPECT_EQ(info->Pipes[0].PipeType, UsbdPipeTypeIsochronous);
  EXPECT_EQ(info->Pipes[0].MaximumPacketSize, alt.data.Capacity());
  EXPECT_NE(info->Pipes[0].PipeHandle, nullptr);
  const USBD_PIPE_HANDLE oldPipe = info->Pipes[0].PipeHandle;

  std::vector<UCHAR> missing;
  EXPECT_EQ(SelectInterface(1, 9, &missing), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(reinterpret_cast<PURB>(missing.data())->UrbHeader.Status,
            USBD_STATUS_INTERFACE_NOT_FOUND);
  EXPECT_EQ(SelectInterface(7, 0, &missing), STATUS_INVALID_PARAMETER);

  // Back to the zero-bandwidth setting: the old pipe handle is stale now.
  ASSERT_EQ(SelectInterface(1, 0, &storage), STATUS_SUCCESS);
  EXPECT_EQ(Record(storage)->NumberOfPipes, 0u);
  URB abort{};
  abort.UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
  abort.UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
  abort.UrbPipeRequest.PipeHandle = oldPipe;
  EXPECT_EQ(Run(&abort), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(abort.UrbHeader.Status, USBD_STATUS_INVALID_PIPE_HANDLE);
}

TEST_F(BusTest, SelectConfigurationRefusesAnAlternateSettingTheDeviceLacks) {
  PURB urb = CreateSelectConfiguration();
  list_[0].Interface->AlternateSetting = 42;
  EXPECT_EQ(Run(urb), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(urb->UrbHeader.Status, USBD_STATUS_INTERFACE_NOT_FOUND);
  ExFreePool(urb);
}

TEST_F(BusTest, AStallingDeviceFailsTheRequestWithStallPid) {
  ASSERT_EQ(Configure(), STATUS_SUCCESS);
  USBD_STATUS usbd = 0;
  std::vector<UCHAR> data(4);
  // An unknown class request: the device itself answers STALL.
  EXPECT_EQ(ClassRequest(URB_FUNCTION_CLASS_INTERFACE, true, 0x7E, 0, 0, &data, &usbd),
            STATUS_UNSUCCESSFUL);
  EXPECT_EQ(usbd, USBD_STATUS_STALL_PID);
  // An injected stall on the default pipe fails even a request the device knows.
  controller_->Faults().stalledEndpoints.insert(0);
  ULONG got = 0;
  USB_DEVICE_DESCRIPTOR device{};
  EXPECT_EQ(GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, &device, 18, &got), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(got, 0u);
}

TEST_F(BusTest, UnpluggedDeviceRefusesNewRequests) {
  controller_->ScheduleUnplug(5 * kMs);
  ASSERT_TRUE(kernel().RunFor(6 * kMs));
  EXPECT_FALSE(controller_->Connected());
  USB_DEVICE_DESCRIPTOR device{};
  ULONG got = 0;
  EXPECT_EQ(GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, &device, 18, &got),
            STATUS_DEVICE_NOT_CONNECTED);
}

}  // namespace
}  // namespace sim::usb::testing
