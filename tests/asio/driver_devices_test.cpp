// The driver object over scripted devices: rates reach the devices, the handle check and the
// power wait, settings changes from the control panel, and the one-host rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "devices/discovery.h"
#include "devices/single_host_objects.h"
#include "driver_fixture.h"
#include "fake_channel_test.h"
#include "settings/cpl_reg_util.h"
#include "win32/win32_host.h"

namespace asio_test {
namespace {

using DriverDevicesTest = FakeChannelTest;

void Initialise(TestableDriver& driver) {
  ASSERT_TRUE(driver.OpenInstanceMutex());
  driver.SelectAndOpen();
  driver.state_ = INITIALIZED;
  RecordingHost::Messages().clear();
}

TEST_F(DriverDevicesTest, RatesReachTheDevicesAndDsdRatesAsWordRates) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  RunAsUser([&] {
    TestableDriver driver;
    Initialise(driver);
    EXPECT_EQ(driver.setSampleRate(192000), ASE_OK);
    EXPECT_EQ(devices[0].rate, 192000u);
    EXPECT_EQ(driver.setSampleRate(32000), ASE_NoClock);  // below the device's range
    EXPECT_EQ(devices[0].rate, 192000u);

    ASIOIoFormat dsd = {};
    dsd.FormatType = kASIODSDFormat;
    ASSERT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_SUCCESS);
    EXPECT_EQ(driver.setSampleRate(5644800), ASE_OK);
    EXPECT_EQ(devices[0].rate, 176400u);
    EXPECT_EQ(CmnRegUtil().ReadNumber(kSettingSamplingRate), 5644800u);
  });
}

TEST_F(DriverDevicesTest, ADeviceThatRefusesTheRateIsAHardwareFault) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  devices[0].failing = {IOCTL_ASIO_SET_RATE};
  RunAsUser([&] {
    TestableDriver driver;
    ASSERT_TRUE(driver.OpenInstanceMutex());
    driver.SelectAndOpen();
  });
  // Selection could not set the rate: nothing is open. With the rate accepted at open and
  // refused later, setSampleRate reports the hardware.
  devices[0].failing.clear();
  RunAsUser([&] {
    TestableDriver driver;
    Initialise(driver);
    devices[0].failing = {IOCTL_ASIO_SET_RATE};
    EXPECT_EQ(driver.setSampleRate(96000), ASE_HWMalfunction);
    EXPECT_EQ(driver.asioRate_, 44100u);
    EXPECT_EQ(CmnRegUtil().ReadNumber(kSettingSamplingRate), 44100u);
  });
}

// A handle that stopped working is re-opened while the host has no buffers; with buffers the
// host is asked to reset instead.
TEST_F(DriverDevicesTest, TheHandleCheckReopensOnlyWithoutBuffers) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  RunAsUser([&] {
    TestableDriver driver;
    Initialise(driver);
    const size_t opens = std::count(devices[0].requests.begin(), devices[0].requests.end(),
                                    IOCTL_ASIO_ACQUIRE);
    devices[0].failing = {IOCTL_ASIO_NOP};
    EXPECT_TRUE(driver.CheckHandles());
    EXPECT_EQ(std::count(devices[0].requests.begin(), devices[0].requests.end(),
                         IOCTL_ASIO_ACQUIRE),
              static_cast<long>(opens + 1));
    EXPECT_EQ(driver.deviceGroup_.Count(), 1u);

    ASIOCallbacks callbacks = RecordingHost::Callbacks();
    driver.callbacks_ = &callbacks;
    driver.state_ = PREPARED;
    EXPECT_FALSE(driver.CheckHandles());
    EXPECT_EQ(RecordingHost::Messages(), std::vector<LONG>{kAsioResetRequest});
    EXPECT_EQ(driver.resetPending_, 1u);
    EXPECT_EQ(driver.setSampleRate(96000), ASE_HWMalfunction);
  });
}

// A request the driver leaves pending fails, and is cancelled before the stream's next request
// reuses its OVERLAPPED.
TEST_F(DriverDevicesTest, APendingRequestFailsAndIsCancelled) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  RunAsUser([&] {
    TestableDriver driver;
    Initialise(driver);
    devices[0].pending = {IOCTL_ASIO_NOP};
    DeviceStream* stream = driver.deviceGroup_.At(0);
    EXPECT_FALSE(stream->Request(IOCTL_ASIO_NOP, nullptr, 0, nullptr, 0));
    EXPECT_EQ(devices[0].cancelled, 1u);
    devices[0].pending.clear();
    EXPECT_TRUE(stream->Request(IOCTL_ASIO_NOP, nullptr, 0, nullptr, 0));
    ULONG speed = 0;
    EXPECT_TRUE(stream->RequestFixed(IOCTL_ASIO_GET_BUS_SPEED, &speed, sizeof speed));
    EXPECT_EQ(speed, 2u);
  });
}

TEST_F(DriverDevicesTest, APoweredDownDeviceFailsTheRateChangeAfterThreeSeconds) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  RunAsUser([&] {
    TestableDriver driver;
    Initialise(driver);
    tarnlink::win32::SetDevicePower(devices[0].pdo, false);
    const DWORD before = GetTickCount();
    EXPECT_EQ(driver.setSampleRate(96000), ASE_NotPresent);
    EXPECT_EQ(GetTickCount() - before, 3000u);
    EXPECT_EQ(devices[0].rate, 44100u);
    tarnlink::win32::SetDevicePower(devices[0].pdo, true);
    EXPECT_EQ(driver.setSampleRate(96000), ASE_OK);
  });
}

TEST_F(DriverDevicesTest, AggregatesAndChannelsOverSeveralDevices) {
  FakeDevice playback = Device(kFirst, u"Zeta");
  playback.range = {44100, 384000};
  playback.formats = [](FormatQueryRecord& record) {
    if (record.formatTag != ASIO_FORMAT_PCM) return;
    record.playbackChannels = 4;
    record.playbackBits = 24;
  };
  FakeDevice duplex = Device(kSecond, u"Alpha");
  duplex.range = {48000, 768000};
  duplex.dsdNative = 0;
  devices = {playback, duplex};
  Plug();
  RunAsUser([&] {
    DeviceList list;
    DiscoverDevices(&list);
    ASSERT_EQ(list.size(), 2u);
    DeviceGroup group;
    for (const auto& entry : list)
      ASSERT_TRUE(group.Open(entry->privatePath, entry->instanceId, entry->description));
    ASSERT_TRUE(group.SetRate(96000));
    const DeviceAggregates all = group.Aggregates();
    EXPECT_EQ(all.inputs, 2u);
    EXPECT_EQ(all.outputs, 6u);
    EXPECT_EQ(all.bits, 24u);
    EXPECT_FALSE(all.allFloat);
    EXPECT_FALSE(all.allDsdNative);
    // The float query of the first device was all zero; its PCM rates span the whole table.
    EXPECT_EQ(all.range.lowestRate, 48000u);
    EXPECT_EQ(all.range.highestRate, 768000u);
    ChannelLocation at = {};
    ASSERT_TRUE(group.MapChannel(false, 5, &at));
    EXPECT_EQ(at.device, 1u);  // Alpha sorts first and has two
    EXPECT_EQ(at.channel, 3u);
    ASSERT_TRUE(group.MapChannel(true, 1, &at));
    EXPECT_EQ(at.device, 0u);
    EXPECT_FALSE(group.MapChannel(true, 2, &at));
    EXPECT_FALSE(group.MapChannel(false, 6, &at));
    bool on = false;
    EXPECT_TRUE(group.Power(&on));
    EXPECT_TRUE(on);
    EXPECT_TRUE(group.Check());
  });
}

// The control panel wrote a setting: without buffers the object selects again; with buffers it
// asks the host for a reset, blocking only for a new rate.
TEST_F(DriverDevicesTest, SettingsChangesReachTheRunningObject) {
  devices.push_back(Device(kFirst, u"Zeta"));
  devices.push_back(Device(kSecond, u"Alpha"));
  Plug();
  RunAsUser([&] {
    TestableDriver driver;
    Initialise(driver);
    ASSERT_TRUE(driver.CreateSettingsEvents());
    ASSERT_TRUE(driver.StartSettingsWatch());
    Sleep(1);
    CCplRegUtil panel;
    panel.WriteSelected(kFirst);
    Sleep(10);
    ASSERT_EQ(driver.deviceGroup_.Count(), 1u);
    EXPECT_EQ(std::u16string(driver.deviceGroup_.At(0)->InstanceId()), kFirst);

    ASIOCallbacks callbacks = RecordingHost::Callbacks();
    driver.callbacks_ = &callbacks;
    driver.state_ = PREPARED;
    panel.WriteNumber(kSettingBufferSizeIndex, 31);
    Sleep(10);
    EXPECT_EQ(RecordingHost::Messages(), std::vector<LONG>{kAsioResetRequest});
    EXPECT_EQ(driver.resetPending_, 0u);
    EXPECT_EQ(driver.bufferSizeIndex_, 31u);
    LONG a, b, preferred, d;
    EXPECT_EQ(driver.getBufferSize(&a, &b, &preferred, &d), ASE_OK);
    EXPECT_EQ(preferred, 128);

    panel.WriteNumber(kSettingSamplingRate, 96000);
    Sleep(10);
    EXPECT_EQ(RecordingHost::Messages().size(), 2u);
    EXPECT_EQ(driver.resetPending_, 1u);
    EXPECT_EQ(driver.pendingRate_, 96000u);
    EXPECT_EQ(driver.asioRate_, 44100u);
    driver.StopSettingsWatch();
  });
}

TEST_F(DriverDevicesTest, ASecondHostIsRefusedWhileTheFirstHoldsTheDriver) {
  devices.push_back(Device(kFirst, u"Zeta"));
  Plug();
  const std::u16string secondHost = u"C:\\Program Files\\Host\\second.exe";
  std::string refusal;
  bool secondStarted = true;
  RunAsUser([&] {
    tarnlink::win32::RegisterProgram(secondHost, [&](const std::u16string&) -> DWORD {
      TestableDriver other;
      EXPECT_TRUE(other.OpenInstanceMutex());
      secondStarted = other.StartDeviceWatch();
      refusal = other.errorText_;
      return 0;
    });
    TestableDriver first;
    ASSERT_TRUE(first.OpenInstanceMutex());
    ASSERT_TRUE(first.StartDeviceWatch());
    EXPECT_TRUE(IsWindow(first.window_));
    HANDLE active = OpenEventW(SYNCHRONIZE, FALSE, kActiveEventName);
    ASSERT_NE(active, nullptr);
    EXPECT_EQ(WaitForSingleObject(active, 0), WAIT_OBJECT_0);

    STARTUPINFOW startup = {};
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(secondHost.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_FALSE(secondStarted);
    EXPECT_EQ(refusal, "Used by another ASIO host\n");

    first.StopDeviceWatch();
    EXPECT_EQ(WaitForSingleObject(active, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(active);
    // With the first gone, the next host is welcome.
    TestableDriver next;
    ASSERT_TRUE(next.OpenInstanceMutex());
    EXPECT_TRUE(next.StartDeviceWatch());
    next.StopDeviceWatch();
  });
}

}  // namespace
}  // namespace asio_test
