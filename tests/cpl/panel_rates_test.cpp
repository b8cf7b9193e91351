// The sample-rate controls on devices in free-rate and fixed-rate mode, with DSD stored, and
// setting a rate with and without the device's consent.
#include <gtest/gtest.h>

#include "panel_fixture.h"
#include "resource.h"

namespace cpl_test {
namespace {

using asio_test::kFirst;

class PanelRatesTest : public asio_test::FakeChannelTest {
 protected:
  asio_test::FakeDevice& PlugOne(ULONG fixedRate, RateRange range, ULONG dsdNative = 1) {
    devices.push_back(Device(kFirst, u"Alpha DAC"));
    devices.back().fixedRate = fixedRate;
    devices.back().range = range;
    devices.back().dsdNative = dsdNative;
    Plug();
    return devices.back();
  }
};

TEST_F(PanelRatesTest, StoredDsdRateOnAFixedRateDeviceShowsTheDsdNamesDisabled) {
  PlugOne(88200, {44100, 768000});
  RunAsUser([&] {
    // A host streams DSD: while it runs, the stored DSD rate stands.
    HostPresence host;
    StoreSettings(kFirst, 2822400, 63);
    Panel panel;
    const std::vector<std::u16string> items = panel.ComboItems();
    ASSERT_EQ(items.size(), 10u + 7u);
    EXPECT_EQ(items.front(), u"44100 Hz");
    EXPECT_EQ(items[9], u"768000 Hz");
    EXPECT_EQ(items[10], u"2.8224MHz");
    EXPECT_EQ(items.back(), u"22.5792MHz");
    EXPECT_EQ(panel.ComboSelection(), u"2.8224MHz");
    EXPECT_FALSE(panel.Enabled(IDC_RATE_COMBO));
    EXPECT_FALSE(panel.Enabled(IDC_RATE_LABEL));
    // Index 63 at 88200 device frames, in bits.
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"16384 Samples");
    EXPECT_EQ(StoredNumber(kSettingSamplingRate), 2822400u);
    panel.Render("dsd-fixed-rate");
  });
}

TEST_F(PanelRatesTest, AFixedRateDeviceOffersItsRatesAndTakesTheOneChosen) {
  asio_test::FakeDevice& device = PlugOne(48000, {44100, 192000}, 0);
  RunAsUser([&] {
    StoreSettings(kFirst, 48000, 63);
    Panel panel;
    EXPECT_EQ(panel.ComboItems(),
              (std::vector<std::u16string>{u"44100 Hz", u"48000 Hz", u"88200 Hz", u"96000 Hz",
                                           u"176400 Hz", u"192000 Hz"}));
    EXPECT_EQ(panel.ComboSelection(), u"48000 Hz");
    EXPECT_TRUE(panel.Enabled(IDC_RATE_COMBO));
    EXPECT_TRUE(panel.Enabled(IDC_RATE_LABEL));
    panel.Render("fixed-rate");
    // The list opens below the field, over the controls beneath and past the window's edge.
    panel.OpenComboList();
    ASSERT_NE(SendMessageW(panel.Item(IDC_RATE_COMBO), CB_GETDROPPEDSTATE, 0, 0), 0);
    panel.Render("rate-list-open");
    panel.ClickOpenListItem(3);
    EXPECT_EQ(panel.ComboSelection(), u"96000 Hz");
    EXPECT_EQ(device.rate, 96000u);
    EXPECT_EQ(StoredNumber(kSettingSamplingRate), 96000u);
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"512 Samples");
  });
}

TEST_F(PanelRatesTest, ARateTheDeviceRefusesFallsBackToItsFixedRate) {
  asio_test::FakeDevice& device = PlugOne(48000, {44100, 192000}, 0);
  RunAsUser([&] {
    StoreSettings(kFirst, 48000, 63);
    Panel panel;
    device.failing.insert(IOCTL_ASIO_SET_RATE);
    panel.ChooseComboItem(5);
    EXPECT_EQ(panel.ComboSelection(), u"48000 Hz");
    EXPECT_EQ(StoredNumber(kSettingSamplingRate), 48000u);
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"256 Samples");
  });
}

TEST_F(PanelRatesTest, AStoredRateOtherThanTheFixedOneIsPushedToTheDevice) {
  asio_test::FakeDevice& device = PlugOne(48000, {44100, 192000}, 0);
  RunAsUser([&] {
    StoreSettings(kFirst, 176400, 63);
    Panel panel;
    EXPECT_EQ(device.rate, 176400u);
    EXPECT_EQ(panel.ComboSelection(), u"176400 Hz");
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"1024 Samples");
  });
}

TEST_F(PanelRatesTest, AFreeRateDeviceShowsTheStoredRateWithTheComboDisabled) {
  PlugOne(0, {44100, 768000}, 0);
  RunAsUser([&] {
    StoreSettings(kFirst, 96000, 63);
    Panel panel;
    EXPECT_EQ(panel.ComboSelection(), u"96000 Hz");
    EXPECT_FALSE(panel.Enabled(IDC_RATE_COMBO));
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"512 Samples");
  });
}

}  // namespace
}  // namespace cpl_test
