// A machine with the host controller and one catalogue device, and URB helpers that wait for
// completion the way a driver thread does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <variant>
#include <vector>

#include "sim/devices/catalogue.h"
#include "sim/usb/host_controller.h"
#include "support/kernel_test.h"
#include "usb/usbdlib.h"

namespace sim::usb::testing {

struct Done {
  bool completed = false;
  NTSTATUS status = STATUS_PENDING;
  KIRQL irql = PASSIVE_LEVEL;
  ULONG order = 0;
};

class BusTest : public tarnlink::kernel::testing::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    device_ = devices::MakeCatalogueDevice(devices::kDefaultDeviceName);
    controller_ = std::make_unique<HostController>(UsbSpeed::High);
    controller_->Attach(device_.get());
  }
  void TearDown() override {
    FreeConfiguration();
    controller_.reset();
    KernelTest::TearDown();
  }

  static void OnComplete(PURB, NTSTATUS status, void* context) {
    auto* done = static_cast<Done*>(context);
    done->completed = true;
    done->status = status;
    done->irql = KeGetCurrentIrql();
    done->order = ++completions_;
  }
  // Submits and runs the machine until the URB completes; returns the final NTSTATUS.
  NTSTATUS Run(PURB urb) {
    Done done;
    NTSTATUS status = controller_->SubmitUrb(urb, OnComplete, &done);
    if (status != STATUS_PENDING) return status;
    EXPECT_TRUE(kernel().RunUntil([&] { return done.completed; }));
    EXPECT_EQ(done.irql, DISPATCH_LEVEL);
    return done.status;
  }

  NTSTATUS GetDescriptor(UCHAR type, UCHAR index, void* buffer, ULONG length, ULONG* got) {
    URB urb{};
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, index,
                                 0, buffer, nullptr, length, nullptr);
    NTSTATUS status = Run(&urb);
    *got = urb.UrbControlDescriptorRequest.TransferBufferLength;
    return status;
  }
  NTSTATUS ClassRequest(USHORT function, bool in, UCHAR request, USHORT value, USHORT index,
                        std::vector<UCHAR>* data, USBD_STATUS* usbd = nullptr) {
    URB urb{};
    UsbBuildVendorRequest(&urb, function, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                          in ? USBD_TRANSFER_DIRECTION_IN : 0, 0, request, value, index,
                          data->empty() ? nullptr : data->data(), nullptr,
                          static_cast<ULONG>(data->size()), nullptr);
    NTSTATUS status = Run(&urb);
    if (usbd != nullptr) *usbd = urb.UrbHeader.Status;
    return status;
  }

  // Reads the whole configuration into pool, as a driver keeps it.
  PUSB_CONFIGURATION_DESCRIPTOR ReadConfiguration() {
    USB_CONFIGURATION_DESCRIPTOR head{};
    ULONG got = 0;
    EXPECT_EQ(GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, &head, 9, &got), STATUS_SUCCESS);
    auto* config = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(
        ExAllocatePool2(POOL_FLAG_NON_PAGED, head.wTotalLength, kTag));
    EXPECT_EQ(GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, config, head.wTotalLength, &got),
              STATUS_SUCCESS);
    EXPECT_EQ(got, head.wTotalLength);
    config_ = config;
    return config;
  }

  // Selects the configuration with every interface at alternate setting 0 and keeps copies of
  // the interface records.
  // A select-configuration URB for every interface at alternate setting 0; list_ holds the
  // entries pointing into it.
  PURB CreateSelectConfiguration() {
    PUSB_CONFIGURATION_DESCRIPTOR config = ReadConfiguration();
    list_.clear();
    for (LONG n = 0; n < config->bNumInterfaces; ++n) {
      list_.push_back(
          {USBD_ParseConfigurationDescriptorEx(config, config, n, 0, -1, -1, -1), nullptr});
    }
    list_.push_back({});
    return USBD_CreateConfigurationRequestEx(config, list_.data());
  }

  NTSTATUS Configure() {
    PURB urb = CreateSelectConfiguration();
    NTSTATUS status = Run(urb);
    configHandle_ = urb->UrbSelectConfiguration.ConfigurationHandle;
    ExFreePool(urb);
    return status;
  }

  // Selects an alternate setting; on success the record holds the pipes.
  NTSTATUS SelectInterface(UCHAR number, UCHAR alternate, std::vector<UCHAR>* storage) {
    const ULONG pipes = 4;
    storage->assign(GET_SELECT_INTERFACE_REQUEST_SIZE(pipes), 0);
    auto* urb = reinterpret_cast<PURB>(storage->data());
    UsbBuildSelectInterfaceRequest(urb, static_cast<USHORT>(storage->size()), configHandle_, number,
                                   alternate);
    return Run(urb);
  }
  static PUSBD_INTERFACE_INFORMATION Record(std::vector<UCHAR>& storage) {
    return &reinterpret_cast<PURB>(storage.data())->UrbSelectInterface.Interface;
  }

  // Sets the rate on a clock source that offers it, routes every selector to it, and waits
  // out the clock's validity lag.
  void RouteClock(uint32_t rate) {
    const devices::ClockSourceSpec* source = nullptr;
    for (const devices::EntitySpec& e : device_->Spec().entities) {
      const auto* c = std::get_if<devices::ClockSourceSpec>(&e);
      if (source == nullptr && c != nullptr &&
          std::count(c->rates.begin(), c->rates.end(), rate) != 0) {
        source = c;
      }
    }
    ASSERT_NE(source, nullptr);
    std::vector<UCHAR> value = {static_cast<UCHAR>(rate), static_cast<UCHAR>(rate >> 8),
                                static_cast<UCHAR>(rate >> 16), static_cast<UCHAR>(rate >> 24)};
    ASSERT_EQ(ClassRequest(URB_FUNCTION_CLASS_INTERFACE, false, 1, 0x0100,
                           static_cast<USHORT>(source->bClockID << 8), &value),
              STATUS_SUCCESS);
    for (const devices::EntitySpec& e : device_->Spec().entities) {
      const auto* selector = std::get_if<devices::ClockSelectorSpec>(&e);
      if (selector == nullptr) continue;
      for (size_t pin = 0; pin < selector->baCSourceID.size(); ++pin) {
        if (selector->baCSourceID[pin] != source->bClockID) continue;
        std::vector<UCHAR> choice = {static_cast<UCHAR>(pin + 1)};
        ASSERT_EQ(ClassRequest(URB_FUNCTION_CLASS_INTERFACE, false, 1, 0x0100,
                               static_cast<USHORT>(selector->bClockID << 8), &choice),
                  STATUS_SUCCESS);
      }
    }
    ASSERT_TRUE(kernel().RunFor(100 * kMs));
  }

  // Configures, clocks and opens the playback interface at an alternate setting; returns
  // its record (data pipe first, feedback pipe second).
  PUSBD_INTERFACE_INFORMATION StartPlayback(UCHAR alternate, uint32_t rate) {
    EXPECT_EQ(Configure(), STATUS_SUCCESS);
    RouteClock(rate);
    EXPECT_EQ(SelectInterface(1, alternate, &playback_), STATUS_SUCCESS);
    return Record(playback_);
  }

  void FreeConfiguration() {
    if (config_ != nullptr) ExFreePoolWithTag(config_, kTag);
    config_ = nullptr;
  }

  static constexpr ULONG kTag = tarnlink::kernel::PoolTag("BusT");
  static inline ULONG completions_ = 0;
  std::unique_ptr<devices::UacDevice> device_;
  std::unique_ptr<HostController> controller_;
  PUSB_CONFIGURATION_DESCRIPTOR config_ = nullptr;
  std::vector<UCHAR> playback_;
  std::vector<USBD_INTERFACE_LIST_ENTRY> list_;
  USBD_CONFIGURATION_HANDLE configHandle_ = nullptr;
};

}  // namespace sim::usb::testing
