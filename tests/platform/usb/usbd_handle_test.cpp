// USBD client handles: the contract version, URB sizes, and the verifier checks on freeing.
#include <gtest/gtest.h>

#include "descriptor_bytes.h"
#include "kernel/host_kernel.h"
#include "support/kernel_test.h"
#include "usb/usb_trace.h"
#include "usb/usbdlib.h"

namespace tarnlink::usb::testing {
namespace {

using kernel::testing::KernelTest;

class UsbdHandleTest : public KernelTest {
 protected:
  // The library only records the device objects; any distinct addresses will do.
  struct _DEVICE_OBJECT* Device() {
    return reinterpret_cast<struct _DEVICE_OBJECT*>(&device_);
  }
  struct _DEVICE_OBJECT* Target() {
    return reinterpret_cast<struct _DEVICE_OBJECT*>(&target_);
  }
  int device_ = 0;
  int target_ = 0;
};

TEST_F(UsbdHandleTest, IsochronousUrbsAreSizedForTheirPacketsAndChargedToTheClientTag) {
  CheckLeaksAtTearDown();
  USBD_HANDLE handle = nullptr;
  ASSERT_EQ(
      USBD_CreateHandle(Device(), Target(), USBD_CLIENT_CONTRACT_VERSION_602, kTestTag, &handle),
      STATUS_SUCCESS);
  PURB urb = nullptr;
  ASSERT_EQ(USBD_IsochUrbAllocate(handle, 8, &urb), STATUS_SUCCESS);
  EXPECT_EQ(urb->UrbHeader.Length, GET_ISO_URB_SIZE(8));
  EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_ISOCH_TRANSFER);
  EXPECT_EQ(urb->UrbIsochronousTransfer.NumberOfPackets, 8u);
  EXPECT_EQ(urb->UrbIsochronousTransfer.IsoPacket[7].Length, 0u);
  EXPECT_EQ(kernel().PoolStats(kTestTag).liveCount, 2u);

  PURB none = reinterpret_cast<PURB>(1);
  EXPECT_EQ(USBD_IsochUrbAllocate(handle, 0, &none), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(none, nullptr);
  kernel().FailPoolAllocation(1, kTestTag);
  EXPECT_EQ(USBD_IsochUrbAllocate(handle, 4, &none), STATUS_INSUFFICIENT_RESOURCES);

  USBD_UrbFree(handle, urb);
  USBD_UrbFree(handle, nullptr);
  USBD_CloseHandle(handle);
  EXPECT_EQ(kernel().PoolStats(kTestTag).liveCount, 0u);
}

TEST_F(UsbdHandleTest, OnlyTheWindows8ContractIsAccepted) {
  USBD_HANDLE handle = reinterpret_cast<USBD_HANDLE>(1);
  EXPECT_EQ(USBD_CreateHandle(Device(), Target(), 0x0600, kTestTag, &handle), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(
      USBD_CreateHandle(Device(), nullptr, USBD_CLIENT_CONTRACT_VERSION_602, kTestTag, &handle),
      STATUS_INVALID_PARAMETER);
}

TEST_F(UsbdHandleTest, FreeingAUrbThroughAnotherHandleStopsTheMachine) {
  ExpectBugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION);
  USBD_HANDLE first = nullptr;
  USBD_HANDLE second = nullptr;
  PURB urb = nullptr;
  EXPECT_FALSE(RunInThread([&] {
    USBD_CreateHandle(Device(), Target(), USBD_CLIENT_CONTRACT_VERSION_602, kTestTag, &first);
    USBD_CreateHandle(Device(), Target(), USBD_CLIENT_CONTRACT_VERSION_602, kTestTag, &second);
    USBD_IsochUrbAllocate(first, 1, &urb);
    USBD_UrbFree(second, urb);
  }));
  EXPECT_EQ(kernel().Stop()->parameters[0], kVerifierBadUsbdUrbFree);
}

}  // namespace
}  // namespace tarnlink::usb::testing
