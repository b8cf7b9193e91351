// Selection and opening over scripted devices: which device opens, the rate it is brought to,
// what the driver object takes from its formats, and what a failed open leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "devices/discovery.h"
#include "driver_fixture.h"
#include "fake_channel_test.h"
#include "formats/sample_types.h"

namespace asio_test {
namespace {

using SelectionTest = FakeChannelTest;

void StoreSelected(const std::u16string& id) {
  CmnRegUtil settings;
  settings.CreateDefaults();
  settings.WriteSelected(id.c_str());
}

std::u16string StoredSelected() {
  WCHAR text[kSelectedCodeUnits + 1];
  CmnRegUtil().ReadSelected(text);
  return text;
}

void Select(TestableDriver& driver) {
  ASSERT_TRUE(driver.OpenInstanceMutex());
  driver.SelectAndOpen();
}

TEST_F(SelectionTest, AStaleSelectionOpensTheFirstDeviceByProductAndIsReplaced) {
  devices.push_back(Device(kFirst, u"Zeta"));
  devices.push_back(Device(kSecond, u"Alpha"));
  Plug();
  RunAsUser([&] {
    StoreSelected(u"USB\\VID_9999&PID_9999\\gone");
    TestableDriver driver;
    Select(driver);
    EXPECT_EQ(std::u16string(driver.selectedDevice_), kSecond);
    EXPECT_EQ(StoredSelected(), kSecond);
    ASSERT_EQ(driver.deviceGroup_.Count(), 1u);
    EXPECT_EQ(std::u16string(driver.deviceGroup_.At(0)->InstanceId()), kSecond);
    EXPECT_EQ(driver.inputs_, 2u);
    EXPECT_EQ(driver.outputs_, 2u);
  });
  EXPECT_EQ(devices[0].owner, nullptr);
  EXPECT_EQ(devices[1].rate, 44100u);
}

TEST_F(SelectionTest, TheStoredSelectionMatchesInAnyLetterCase) {
  devices.push_back(Device(kFirst, u"Zeta"));
  devices.push_back(Device(kSecond, u"Alpha"));
  Plug();
  RunAsUser([&] {
    StoreSelected(u"usb\\vid_1234&pid_0001\\1");
    TestableDriver driver;
    Select(driver);
    ASSERT_EQ(driver.deviceGroup_.Count(), 1u);
    EXPECT_EQ(std::u16string(driver.deviceGroup_.At(0)->InstanceId()), kFirst);
    EXPECT_EQ(StoredSelected(), u"usb\\vid_1234&pid_0001\\1");
  });
}

// The stored rate is brought into the device's range: below it to the lowest rate, above it
// to the highest.
TEST_F(SelectionTest, TheStoredRateIsClampedToTheDevicesRange) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  for (const auto& [stored, expected] : {std::pair<ULONG, ULONG>{22050, 44100},
                                         {1000000, 768000}, {96000, 96000}}) {
    RunAsUser([&, stored = stored, expected = expected] {
      CmnRegUtil settings;
      settings.CreateDefaults();
      settings.WriteNumber(kSettingSamplingRate, stored);
      TestableDriver driver;
      Select(driver);
      EXPECT_EQ(driver.asioRate_, expected) << stored;
      EXPECT_EQ(driver.pendingRate_, stored);
      EXPECT_EQ(driver.lowestRate_, 44100u);
      EXPECT_EQ(driver.highestRate_, 768000u);
    });
    EXPECT_EQ(devices[0].rate, expected);
  }
}

TEST_F(SelectionTest, AMissingSettingsKeyIsCreatedAndItsDefaultsUsed) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  RunAsUser([] {
    TestableDriver driver;
    Select(driver);
    EXPECT_EQ(driver.bufferSizeIndex_, 63u);
    EXPECT_EQ(driver.asioRate_, 44100u);
    EXPECT_EQ(StoredSelected(), kFirst);
    EXPECT_EQ(driver.sampleType_, ASIOSTFloat32LSB);
    EXPECT_EQ(driver.dsdCapable_, 1u);
  });
}

TEST_F(SelectionTest, WithoutDevicesNothingOpensAndTheDefaultsStand) {
  devices.push_back(Device(kFirst, u"Zeta"));
  devices[0].service = u"Other";
  Plug();
  RunAsUser([] {
    StoreSelected(kFirst);
    CmnRegUtil().WriteNumber(kSettingBufferSizeIndex, 5);
    TestableDriver driver;
    Select(driver);
    EXPECT_TRUE(driver.deviceList_.empty());
    EXPECT_EQ(driver.deviceGroup_.Count(), 0u);
    EXPECT_EQ(driver.bufferSizeIndex_, 63u);
    EXPECT_EQ(driver.inputs_ + driver.outputs_, 0u);
    EXPECT_EQ(std::u16string(driver.selectedDevice_), u"");
    EXPECT_EQ(driver.deviceBits_, 32u);
    EXPECT_EQ(driver.allFloat_, 0u);
  });
}

// A device that takes no float but 24-bit integers: the float query's records are all zero, the
// PCM query's are usable.
TEST_F(SelectionTest, AnIntegerOnlyDeviceGivesTwentyFourBitIntegers) {
  FakeDevice device = Device(kFirst, u"Zeta");
  device.formats = [](FormatQueryRecord& record) {
    if (record.formatTag != ASIO_FORMAT_PCM) return;
    record.playbackChannels = 2;
    record.playbackBits = 24;
  };
  devices.push_back(device);
  Plug();
  RunAsUser([] {
    TestableDriver driver;
    Select(driver);
    ASSERT_EQ(driver.deviceGroup_.Count(), 1u);
    EXPECT_FALSE(driver.deviceGroup_.At(0)->Float());
    EXPECT_EQ(driver.allFloat_, 0u);
    EXPECT_EQ(driver.deviceBits_, 24u);
    EXPECT_EQ(driver.sampleType_, ASIOSTInt24LSB);
    EXPECT_EQ(driver.inputs_, 0u);
    EXPECT_EQ(driver.outputs_, 2u);
    // Only the rates the device reported count: 32 to 1536 kHz here.
    EXPECT_EQ(driver.lowestRate_, 32000u);
    EXPECT_EQ(driver.highestRate_, 1536000u);
  });
}

// The profiled model runs only at its measured rates, whatever the driver reports.
TEST_F(SelectionTest, AProfiledDeviceDoesNotRunAtUnmeasuredRates) {
  FakeDevice device = Device(u"USB\\VID_7A31&PID_0C5E&MI_00\\7&1", u"Tarn");
  device.range = {32000, 768000};
  devices.push_back(device);
  Plug();
  RunAsUser([] {
    CmnRegUtil().CreateDefaults();
    CmnRegUtil().WriteNumber(kSettingSamplingRate, 32000);
    TestableDriver driver;
    Select(driver);
    ASSERT_EQ(driver.deviceGroup_.Count(), 1u);
    EXPECT_NE(driver.deviceGroup_.At(0)->Profile(), nullptr);
    EXPECT_EQ(driver.lowestRate_, 44100u);
    EXPECT_EQ(driver.asioRate_, 44100u);
  });
}

TEST_F(SelectionTest, DevicesThatCannotBeOpenedLeaveNoChannels) {
  for (ULONG refused : {IOCTL_ASIO_ACQUIRE, IOCTL_ASIO_QUERY_FORMATS, IOCTL_ASIO_GET_FIXED_RATE,
                        IOCTL_ASIO_GET_CAPTURE_PERIOD_MS, IOCTL_ASIO_SET_RATE}) {
    FakeDevice device = Device(u"USB\\VID_1234&PID_00" +
                                   std::u16string(1, u'A' + devices.size()) + u"\\1",
                               u"Refuses");
    device.failing = {refused};
    devices.push_back(device);
  }
  FakeDevice silent = Device(u"USB\\VID_1234&PID_0010\\1", u"Silent");
  silent.formats = [](FormatQueryRecord&) {};
  devices.push_back(silent);
  Plug();
  for (const FakeDevice& device : devices) {
    RunAsUser([&] {
      StoreSelected(device.instanceId);
      TestableDriver driver;
      Select(driver);
      EXPECT_EQ(driver.deviceList_.size(), devices.size());
      EXPECT_EQ(driver.deviceGroup_.Count(), 0u) << std::string(device.instanceId.begin(),
                                                                device.instanceId.end());
      EXPECT_EQ(driver.inputs_ + driver.outputs_, 0u);
    });
  }
}

// The device goes between discovery and open: the open fails cleanly.
TEST_F(SelectionTest, ADeviceUnpluggedAfterDiscoveryIsNotOpened) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  RunAsUser([&] {
    TestableDriver driver;
    ASSERT_TRUE(driver.OpenInstanceMutex());
    DiscoverDevices(&driver.deviceList_);
    ASSERT_EQ(driver.deviceList_.size(), 1u);
    std::copy_n(kFirst, std::size(kFirst), driver.selectedDevice_);
    driver.asioRate_ = 48000;
    channel.Remove(devices[0]);
    EXPECT_FALSE(driver.OpenSelected());
    EXPECT_EQ(driver.deviceGroup_.Count(), 0u);
    EXPECT_EQ(driver.inputs_ + driver.outputs_, 0u);
  });
}

}  // namespace
}  // namespace asio_test
