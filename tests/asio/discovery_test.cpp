// Discovery over scripted devices: only the kernel driver's wave filters are listed, each with
// what it answered, sorted by product string; a device that does not answer is left out.
#include <gtest/gtest.h>

#include <string>

#include "devices/discovery.h"
#include "devices/private_queries.h"
#include "fake_channel_test.h"

namespace asio_test {
namespace {

using DiscoveryTest = FakeChannelTest;

std::u16string Text(const WCHAR* text) { return std::u16string(text); }

TEST_F(DiscoveryTest, OnlyTheDriversWaveFiltersAreListedInProductOrder) {
  FakeDevice zeta = Device(u"USB\\VID_1234&PID_0001\\1", u"Zeta DAC");
  // The filter's other interface does not carry the wave reference.
  zeta.references = {u"Topology", kWaveReference};
  zeta.range = {44100, 384000};
  zeta.dsdNative = 0;
  zeta.busSpeed = 1;
  devices.push_back(zeta);
  FakeDevice foreign = Device(u"USB\\VID_1234&PID_0002\\1", u"Foreign");
  foreign.service = u"velmor_usbdac_audio";  // the service name compares case-sensitively
  devices.push_back(foreign);
  devices.push_back(Device(u"USB\\VID_1234&PID_0003\\1", u"Alpha DAC"));
  FakeDevice noReference = Device(u"USB\\VID_1234&PID_0004\\1", u"Beta");
  noReference.references = {u"Topology"};
  devices.push_back(noReference);
  devices.push_back(Device(u"USB\\VID_1234&PID_0005\\1", u""));
  Plug();
  RunAsUser([] {
    DeviceList list;
    DiscoverDevices(&list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(Text(list[0]->productString), u"");
    EXPECT_EQ(Text(list[1]->productString), u"Alpha DAC");
    EXPECT_EQ(Text(list[2]->productString), u"Zeta DAC");
    const DeviceListEntry& z = *list[2];
    EXPECT_EQ(Text(z.instanceId), u"USB\\VID_1234&PID_0001\\1");
    EXPECT_EQ(Text(z.description), u"Velmor USB DAC");
    const std::u16string path = Text(z.privatePath);
    EXPECT_EQ(path.rfind(u"\\\\?\\usb#vid_1234&pid_0001#1#{6994ad04-93ef-11d0-a3cc-00a0c9223196}",
                         0),
              0u)
        << std::string(path.begin(), path.end());
    EXPECT_EQ(path.substr(path.size() - 5), u"\\asio");
    EXPECT_EQ(path.find(u"deab6fbe"), std::u16string::npos);
    EXPECT_EQ(z.rateRange.lowestRate, 44100u);
    EXPECT_EQ(z.rateRange.highestRate, 384000u);
    EXPECT_EQ(z.dsdNative, 0u);
    EXPECT_EQ(z.busSpeed, 1u);
    // The path reaches the device.
    ULONG speed = 0;
    EXPECT_TRUE(QueryFixed(z.privatePath, IOCTL_ASIO_GET_BUS_SPEED, &speed, sizeof speed));
  });
}

TEST_F(DiscoveryTest, ADeviceThatDoesNotAnswerEveryQueryIsLeftOut) {
  for (ULONG code : {IOCTL_ASIO_GET_RATE_RANGE, IOCTL_ASIO_GET_DSD_NATIVE,
                     IOCTL_ASIO_GET_PRODUCT_STRING, IOCTL_ASIO_GET_BUS_SPEED}) {
    FakeDevice device = Device(u"USB\\VID_1234&PID_00" + std::u16string(1, u'A' + devices.size()) +
                                   u"\\1",
                               u"Refuses");
    device.failing = {code};
    devices.push_back(device);
  }
  // A product string whose claimed length no string descriptor can have.
  FakeDevice boasting = Device(u"USB\\VID_1234&PID_0010\\1", u"Boast");
  boasting.claimedLength = 0xFFFFFFFF;
  devices.push_back(boasting);
  devices.push_back(Device(u"USB\\VID_1234&PID_0011\\1", u"Answers"));
  Plug();
  RunAsUser([] {
    DeviceList list;
    DiscoverDevices(&list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(Text(list[0]->productString), u"Answers");
  });
}

TEST_F(DiscoveryTest, TheProductStringIsCutToWhatTheListKeeps) {
  devices.push_back(Device(u"USB\\VID_1234&PID_0001\\1", std::u16string(200, u'P')));
  Plug();
  RunAsUser([] {
    WCHAR text[kProductStringUnits];
    ASSERT_TRUE(QueryProductString(u"\\\\?\\nowhere\\asio", text, kProductStringUnits) == false);
    DeviceList list;
    DiscoverDevices(&list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(Text(list[0]->productString), std::u16string(kProductStringUnits - 1, u'P'));
  });
}

}  // namespace
}  // namespace asio_test
