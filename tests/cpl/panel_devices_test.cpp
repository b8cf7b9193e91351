// The device list: what it shows, choosing a device with and without a host, unplugging, no
// devices at all, and a second start of the program.
#include <gtest/gtest.h>

#include "devices/single_host_objects.h"
#include "panel_fixture.h"
#include "resource.h"

namespace cpl_test {
namespace {

using asio_test::kFirst;
using asio_test::kSecond;

class PanelDevicesTest : public asio_test::FakeChannelTest {
 protected:
  void PlugTwo() {
    devices.push_back(Device(kFirst, u"Alpha DAC"));
    devices.back().description = u"Velmor R&D DAC";
    devices.push_back(Device(kSecond, u"Beta DAC"));
    devices.back().description = u"Velmor Desk DAC";
    Plug();
  }
};

TEST_F(PanelDevicesTest, ListsTheDevicesAndWorksOnTheStoredOne) {
  PlugTwo();
  RunAsUser([&] {
    StoreSettings(kSecond, 48000, 63);
    Panel panel;
    EXPECT_EQ(panel.ListItems(), (std::vector<std::u16string>{u"Velmor R&&D DAC", u"Velmor Desk DAC"}));
    EXPECT_EQ(panel.ListSelection(), 1);
    EXPECT_EQ(panel.Text(IDC_SETTING_GROUP), u"Velmor Desk DAC");
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"256 Samples");
    EXPECT_TRUE(panel.Enabled(IDC_BUFFER_SLIDER));
    const std::u16string info = panel.Text(IDC_INFORMATION);
    EXPECT_EQ(info.rfind(u"Velmor USB Audio Tarn\r\nVersion 1.0.0.1  built ", 0), 0u);
    EXPECT_EQ(std::count(info.begin(), info.end(), u'\n'), 4);
    panel.Render("main");
    // A click on the other device makes it the one the ASIO driver uses.
    panel.ClickListItem(0);
    EXPECT_EQ(panel.ListSelection(), 0);
    EXPECT_EQ(StoredSelected(), kFirst);
    EXPECT_EQ(panel.Text(IDC_SETTING_GROUP), u"Velmor R&&D DAC");
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"256 Samples");
  });
}

TEST_F(PanelDevicesTest, ChoosingWhileAHostIsActiveOnlyMovesTheSelection) {
  PlugTwo();
  RunAsUser([&] {
    StoreSettings(kFirst, 48000);
    Panel panel;
    HostPresence host;
    panel.ClickListItem(1);
    EXPECT_EQ(panel.ListSelection(), 1);
    EXPECT_EQ(StoredSelected(), kFirst);
    // Not the device in use: no buffer size to set for it.
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"----");
    EXPECT_FALSE(panel.Enabled(IDC_BUFFER_SLIDER));
    panel.Render("host-active-other-device");
  });
}

TEST_F(PanelDevicesTest, UnpluggingADeviceRefreshesTheList) {
  PlugTwo();
  RunAsUser([&] {
    StoreSettings(kSecond, 48000);
    Panel panel;
    ASSERT_EQ(panel.ListItems().size(), 2u);
    // The device leaves as an unplug takes it away, its interfaces first.
    channel.Remove(devices[1]);
    Settle();
    EXPECT_EQ(panel.ListItems(), (std::vector<std::u16string>{u"Velmor R&&D DAC"}));
    // The stored device is gone: the first one is chosen and stored.
    EXPECT_EQ(panel.ListSelection(), 0);
    EXPECT_EQ(StoredSelected(), kFirst);
  });
}

TEST_F(PanelDevicesTest, WithoutDevicesEverythingIsEmptyAndDisabled) {
  Plug();
  RunAsUser([&] {
    StoreSettings(u"", 44100);
    Panel panel;
    EXPECT_TRUE(panel.ListItems().empty());
    EXPECT_EQ(panel.ListSelection(), LB_ERR);
    EXPECT_EQ(panel.Text(IDC_SETTING_GROUP), u"Setting");
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"----");
    EXPECT_FALSE(panel.Enabled(IDC_BUFFER_SLIDER));
    EXPECT_FALSE(panel.Enabled(IDC_RATE_COMBO));
    EXPECT_FALSE(panel.Enabled(IDC_RATE_LABEL));
    panel.Render("no-devices");
  });
}

TEST_F(PanelDevicesTest, ASecondStartBringsTheFirstForwardAndEnds) {
  PlugTwo();
  RunAsUser([&] {
    Panel first;
    first.Minimise();
    ASSERT_TRUE(IsIconic(first.Dialog()));
    first.Render("minimised");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION second{};
    ASSERT_TRUE(CreateProcessW(kPanelPath, nullptr, nullptr, nullptr, FALSE, 0x30, nullptr,
                               nullptr, &startup, &second));
    EXPECT_EQ(WaitForSingleObject(second.hProcess, INFINITE), WAIT_OBJECT_0);
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
    EXPECT_EQ(sim::panel::PanelWindows().size(), 1u);
    EXPECT_FALSE(IsIconic(first.Dialog()));
    EXPECT_EQ(GetForegroundWindow(), first.Dialog());
  });
}

}  // namespace
}  // namespace cpl_test
