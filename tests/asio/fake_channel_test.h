// A machine with scripted devices on the private channel; a test describes its devices, plugs
// them, and runs its body as a host process.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "fake_channel.h"
#include "support/kernel_test.h"

namespace asio_test {

// Instance ids of two devices most tests plug.
inline constexpr char16_t kFirst[] = u"USB\\VID_1234&PID_0001\\1";
inline constexpr char16_t kSecond[] = u"USB\\VID_1234&PID_0002\\1";

class FakeChannelTest : public tarnlink::kernel::testing::KernelTest {
 protected:
  void TearDown() override {
    if (!kernel().Stopped()) RunInThread([&] { channel.TearDown(); });
    KernelTest::TearDown();
  }
  void Plug() {
    ASSERT_TRUE(RunInThread([&] { channel.Build(&devices); }));
  }
  void Unplug(FakeDevice& device) {
    ASSERT_TRUE(RunInThread([&] { channel.Remove(device); }));
  }
  static FakeDevice Device(std::u16string instanceId, std::u16string product) {
    FakeDevice device;
    device.instanceId = std::move(instanceId);
    device.product = std::move(product);
    return device;
  }

  std::vector<FakeDevice> devices;
  FakeChannel channel;
};

}  // namespace asio_test
