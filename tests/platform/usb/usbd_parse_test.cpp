// The descriptor parsers against well-formed and hostile configuration copies. The copies live
// in pool blocks of their exact size, so AddressSanitizer and the pool bookkeeping both notice
// a read outside.
#include <gtest/gtest.h>

#include "descriptor_bytes.h"
#include "support/kernel_test.h"
#include "usb/usbdlib.h"

namespace tarnlink::usb::testing {
namespace {

using kernel::testing::KernelTest;

class UsbdParseTest : public KernelTest {
 protected:
  PUSB_CONFIGURATION_DESCRIPTOR Copy(const std::vector<UCHAR>& bytes) {
    config_ = PoolCopy(bytes);
    return config_;
  }
  void TearDown() override {
    if (config_ != nullptr) ExFreePoolWithTag(config_, kTestTag);
    KernelTest::TearDown();
  }
  PUSB_CONFIGURATION_DESCRIPTOR config_ = nullptr;
};

const std::vector<UCHAR> kAudioLike =
    Configuration(2, Join({Interface(0, 0, 0, 1, 1),
                           {6, 0x24, 1, 0, 1, 0},  // class-specific header
                           Interface(1, 0, 0),
                           Interface(1, 1, 2),
                           Endpoint(0x01, 0x05, 196, 1),
                           Endpoint(0x81, 0x11, 4, 4)}));

TEST_F(UsbdParseTest, FindsInterfacesByEveryKeyAndContinuesFromAStartPosition) {
  auto* config = Copy(kAudioLike);
  auto* control = USBD_ParseConfigurationDescriptorEx(config, config, -1, -1, 1, 1, -1);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->bInterfaceNumber, 0);

  auto* streaming = USBD_ParseConfigurationDescriptorEx(config, config, 1, 1, -1, -1, -1);
  ASSERT_NE(streaming, nullptr);
  EXPECT_EQ(streaming->bNumEndpoints, 2);

  auto* first = USBD_ParseConfigurationDescriptorEx(config, config, 1, -1, -1, -1, -1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->bAlternateSetting, 0);
  auto* next = USBD_ParseConfigurationDescriptorEx(config, reinterpret_cast<UCHAR*>(first) + 9, 1,
                                                   -1, -1, -1, -1);
  EXPECT_EQ(next, streaming);
  EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 1, 2, -1, -1, -1), nullptr);

  auto* endpoint =
      USBD_ParseDescriptors(config, config->wTotalLength, streaming, USB_ENDPOINT_DESCRIPTOR_TYPE);
  ASSERT_NE(endpoint, nullptr);
  EXPECT_EQ(reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(endpoint)->bEndpointAddress, 0x01);
}

struct HostileCase {
  const char* name;
  std::vector<UCHAR> bytes;
};

// Each table is a pool block of exactly its size; none holds a findable alternate setting 1.
std::vector<HostileCase> HostileTables() {
  std::vector<UCHAR> zeroLength = Configuration(1, Join({Interface(0, 0, 0), {0, 4, 0, 1}}));
  std::vector<UCHAR> oneLength = Configuration(1, Join({{1, 4}, Interface(0, 1, 0)}));
  std::vector<UCHAR> runsPastEnd = Configuration(1, Join({Interface(0, 0, 0), {40, 4, 0, 1}}));
  std::vector<UCHAR> truncatedInterface = Configuration(1, Join({{5, 4, 0, 1, 0}}));
  std::vector<UCHAR> longTotal = Configuration(1, Interface(0, 0, 0));
  longTotal[2] = 0xFF;  // claims 255 bytes, holds 18
  std::vector<UCHAR> cutHeader = {9, 2, 0x40};
  return {{"ZeroLengthDescriptor", zeroLength},
          {"OneByteDescriptor", oneLength},
          {"DescriptorRunsPastTheEnd", runsPastEnd},
          {"InterfaceShorterThanItsFields", truncatedInterface},
          {"TotalLengthLargerThanTheCopy", longTotal},
          {"CopyShorterThanTheHeader", cutHeader}};
}

class UsbdHostileParseTest : public UsbdParseTest,
                             public ::testing::WithParamInterface<HostileCase> {};

TEST_P(UsbdHostileParseTest, NeverReadsOutsideAndNeverLoops) {
  auto* config = Copy(GetParam().bytes);
  EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 0, 1, -1, -1, -1), nullptr);
  EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, -1, 1, -1, -1, -1), nullptr);
  const ULONG size = static_cast<ULONG>(GetParam().bytes.size());
  EXPECT_EQ(USBD_ParseDescriptors(config, size, config, USB_ENDPOINT_DESCRIPTOR_TYPE), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Tables, UsbdHostileParseTest, ::testing::ValuesIn(HostileTables()),
                         [](const auto& tableCase) { return std::string(tableCase.param.name); });

TEST_F(UsbdParseTest, StartPositionsOutsideTheBufferFindNothing) {
  auto* config = Copy(kAudioLike);
  auto* bytes = reinterpret_cast<UCHAR*>(config);
  const ULONG size = config->wTotalLength;
  EXPECT_EQ(USBD_ParseDescriptors(config, size, bytes + size, USB_INTERFACE_DESCRIPTOR_TYPE),
            nullptr);
  EXPECT_EQ(USBD_ParseDescriptors(config, size, bytes + size + 100, USB_INTERFACE_DESCRIPTOR_TYPE),
            nullptr);
  EXPECT_EQ(USBD_ParseDescriptors(bytes + 9, size - 9, bytes, USB_INTERFACE_DESCRIPTOR_TYPE),
            nullptr);
  // A smaller TotalLength than the buffer hides what lies beyond it.
  EXPECT_EQ(USBD_ParseDescriptors(config, 18, config, USB_ENDPOINT_DESCRIPTOR_TYPE), nullptr);
}

}  // namespace
}  // namespace tarnlink::usb::testing
