#include <gtest/gtest.h>

#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_builder.h"
#include "tests/sim/devices/device_host.h"

namespace sim::devices {
namespace {

using testing::DeviceHost;
using testing::Reply;

class StandardRequests : public ::testing::Test {
 protected:
  std::unique_ptr<UacDevice> device_ = MakeCatalogueDevice(kDefaultDeviceName);
  DeviceHost host_{*device_};

  Reply Descriptor(uint8_t type, uint8_t index, uint16_t length, uint16_t language = 0) {
    return host_.In(0x80, USB_REQUEST_GET_DESCRIPTOR, static_cast<uint16_t>(type << 8 | index),
                    language, length);
  }
};

TEST_F(StandardRequests, GetDescriptorHonoursTheRequestedLength) {
  const std::vector<uint8_t>& device = device_->Image().device;
  const std::vector<uint8_t>& config = device_->Image().configuration;
  EXPECT_EQ(Descriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 8).data,
            std::vector<uint8_t>(device.begin(), device.begin() + 8));
  EXPECT_EQ(Descriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 255).data, device);
  EXPECT_EQ(Descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 9).data,
            std::vector<uint8_t>(config.begin(), config.begin() + 9));
  EXPECT_EQ(Descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0xFFFF).data, config);
  EXPECT_TRUE(Descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 1, 9).stalled);
  EXPECT_EQ(Descriptor(USB_DEVICE_QUALIFIER_DESCRIPTOR_TYPE, 0, 10).data.size(), 10u);
  EXPECT_TRUE(Descriptor(USB_OTHER_SPEED_CONFIGURATION_DESCRIPTOR_TYPE, 0, 9).stalled);
}

TEST_F(StandardRequests, StringsAndTheLanguageList) {
  EXPECT_EQ(Descriptor(USB_STRING_DESCRIPTOR_TYPE, 0, 255).data,
            (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
  const Reply product = Descriptor(USB_STRING_DESCRIPTOR_TYPE, 2, 255, 0x0409);
  EXPECT_EQ(product.data, BuildStringDescriptor("Velmor USB Audio Tarn"));
  EXPECT_EQ(Descriptor(USB_STRING_DESCRIPTOR_TYPE, 2, 2, 0x0409).data,
            (std::vector<uint8_t>{44, 3}));
  EXPECT_TRUE(Descriptor(USB_STRING_DESCRIPTOR_TYPE, 2, 255, 0x0407).stalled);
  EXPECT_TRUE(Descriptor(USB_STRING_DESCRIPTOR_TYPE, 9, 255, 0x0409).stalled);
}

TEST_F(StandardRequests, ConfigurationAndInterfaces) {
  EXPECT_TRUE(host_.In(0x81, USB_REQUEST_GET_INTERFACE, 0, 1, 1).stalled);  // not configured
  EXPECT_FALSE(host_.SetInterface(1, 1));
  EXPECT_FALSE(host_.Out(0x00, USB_REQUEST_SET_CONFIGURATION, 2, 0));
  host_.Configure();
  EXPECT_EQ(device_->Address(), 5);
  EXPECT_EQ(host_.In(0x80, USB_REQUEST_GET_CONFIGURATION, 0, 0, 1).data, std::vector<uint8_t>{1});
  EXPECT_TRUE(host_.SetInterface(1, 3));
  EXPECT_FALSE(host_.SetInterface(1, 4));
  EXPECT_FALSE(host_.SetInterface(7, 0));
  EXPECT_FALSE(host_.SetInterface(0, 1));
  EXPECT_TRUE(host_.SetInterface(0, 0));
  EXPECT_EQ(host_.In(0x81, USB_REQUEST_GET_INTERFACE, 0, 1, 1).data, std::vector<uint8_t>{3});
  // Setting the configuration again returns every interface to zero bandwidth.
  EXPECT_TRUE(host_.Out(0x00, USB_REQUEST_SET_CONFIGURATION, 1, 0));
  EXPECT_EQ(device_->AlternateSetting(1), 0);
  EXPECT_FALSE(host_.Out(0x00, USB_REQUEST_SET_ADDRESS, 6, 0));  // only before configuration
}

TEST_F(StandardRequests, StatusAndEndpointHalt) {
  host_.Configure();
  EXPECT_EQ(host_.In(0x80, USB_REQUEST_GET_STATUS, 0, 0, 2).data, (std::vector<uint8_t>{0, 0}));
  EXPECT_TRUE(host_.In(0x82, USB_REQUEST_GET_STATUS, 0, 0x01, 2).stalled);  // not selected
  ASSERT_TRUE(host_.SetInterface(1, 1));
  EXPECT_EQ(host_.In(0x82, USB_REQUEST_GET_STATUS, 0, 0x01, 2).data, (std::vector<uint8_t>{0, 0}));
  EXPECT_TRUE(host_.Out(0x02, USB_REQUEST_SET_FEATURE, USB_FEATURE_ENDPOINT_STALL, 0x01));
  EXPECT_EQ(host_.In(0x82, USB_REQUEST_GET_STATUS, 0, 0x01, 2).data, (std::vector<uint8_t>{1, 0}));
  EXPECT_TRUE(host_.Out(0x02, USB_REQUEST_CLEAR_FEATURE, USB_FEATURE_ENDPOINT_STALL, 0x01));
  EXPECT_EQ(host_.In(0x82, USB_REQUEST_GET_STATUS, 0, 0x01, 2).data, (std::vector<uint8_t>{0, 0}));
  EXPECT_FALSE(host_.Out(0x00, USB_REQUEST_SET_FEATURE, USB_FEATURE_REMOTE_WAKEUP, 0));
  EXPECT_TRUE(host_.In(0x81, USB_REQUEST_GET_STATUS, 0, 9, 2).stalled);
  EXPECT_TRUE(host_.In(0x82, USB_REQUEST_SYNC_FRAME, 0, 0x01, 2).stalled);
}

TEST(StandardRequestsOtherDevices, FullSpeedDevicesHaveNoQualifier) {
  auto speaker = MakeCatalogueDevice("uac1-speaker");
  DeviceHost host(*speaker);
  EXPECT_TRUE(host.In(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0600, 0, 10).stalled);
}

TEST(StandardRequestsOtherDevices, InterfacesOutsideTheAudioFunctionTakeTheirSettings) {
  for (const char* name : {"quirk-length-header", "quirk-dfu-interface", "quirk-hid-interface"}) {
    SCOPED_TRACE(name);
    auto device = MakeCatalogueDevice(name);
    DeviceHost host(*device);
    host.Configure();
    const uint8_t extra = static_cast<uint8_t>(1 + device->Spec().streams.size());
    EXPECT_TRUE(host.SetInterface(extra, 0));
    EXPECT_FALSE(host.SetInterface(extra, 1));
    EXPECT_EQ(host.In(0x81, USB_REQUEST_GET_INTERFACE, 0, extra, 1).data, std::vector<uint8_t>{0});
  }
}

}  // namespace
}  // namespace sim::devices
