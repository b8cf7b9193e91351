// USBD_CreateConfigurationRequestEx: record sizes per interface and list validation.
#include <gtest/gtest.h>

#include "descriptor_bytes.h"
#include "support/kernel_test.h"
#include "usb/usbdlib.h"

namespace tarnlink::usb::testing {
namespace {

using kernel::testing::KernelTest;

class UsbdConfigRequestTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    config_ = PoolCopy(Configuration(
        2, Join({Interface(0, 0, 1, 1, 1), Endpoint(0x82, 0x03, 8, 4), Interface(1, 0, 0),
                 Interface(1, 1, 2), Endpoint(0x01, 0x05, 196, 1), Endpoint(0x81, 0x11, 4, 4)})));
  }
  void TearDown() override {
    ExFreePoolWithTag(config_, kTestTag);
    KernelTest::TearDown();
  }
  PUSB_INTERFACE_DESCRIPTOR Find(LONG number, LONG alternate) {
    return USBD_ParseConfigurationDescriptorEx(config_, config_, number, alternate, -1, -1, -1);
  }
  PUSB_CONFIGURATION_DESCRIPTOR config_ = nullptr;
};

TEST_F(UsbdConfigRequestTest, LaysOutOneRecordPerInterfaceSizedForItsEndpoints) {
  USBD_INTERFACE_LIST_ENTRY list[] = {{Find(0, 0), nullptr}, {Find(1, 1), nullptr}, {}};
  PURB urb = USBD_CreateConfigurationRequestEx(config_, list);
  ASSERT_NE(urb, nullptr);
  EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
  EXPECT_EQ(urb->UrbHeader.Length, 40 + (24 + 24) + (24 + 2 * 24));
  EXPECT_EQ(urb->UrbSelectConfiguration.ConfigurationDescriptor, config_);
  ASSERT_EQ(list[0].Interface, &urb->UrbSelectConfiguration.Interface);
  EXPECT_EQ(list[0].Interface->Length, 48);
  EXPECT_EQ(list[0].Interface->NumberOfPipes, 1u);
  EXPECT_EQ(reinterpret_cast<UCHAR*>(list[1].Interface),
            reinterpret_cast<UCHAR*>(list[0].Interface) + 48);
  EXPECT_EQ(list[1].Interface->Length, 72);
  EXPECT_EQ(list[1].Interface->InterfaceNumber, 1);
  EXPECT_EQ(list[1].Interface->AlternateSetting, 1);
  EXPECT_EQ(list[1].Interface->Pipes[1].MaximumTransferSize, USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE);
  ExFreePool(urb);
}

TEST_F(UsbdConfigRequestTest, RefusesEmptyListsAndDescriptorsOutsideTheConfiguration) {
  USBD_INTERFACE_LIST_ENTRY empty[] = {{}};
  EXPECT_EQ(USBD_CreateConfigurationRequestEx(config_, empty), nullptr);

  USB_INTERFACE_DESCRIPTOR elsewhere = {9, 4, 0, 0, 0, 1, 1, 0, 0};
  USBD_INTERFACE_LIST_ENTRY outside[] = {{&elsewhere, nullptr}, {}};
  EXPECT_EQ(USBD_CreateConfigurationRequestEx(config_, outside), nullptr);

  auto* lastByte = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(reinterpret_cast<UCHAR*>(config_) +
                                                               config_->wTotalLength - 4);
  USBD_INTERFACE_LIST_ENTRY straddling[] = {{lastByte, nullptr}, {}};
  EXPECT_EQ(USBD_CreateConfigurationRequestEx(config_, straddling), nullptr);
}

}  // namespace
}  // namespace tarnlink::usb::testing
