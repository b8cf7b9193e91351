// The panel at the keyboard: Tab and Shift+Tab move the focus round the controls a user can
// reach, the keys then act on the control with the focus, and Escape closes the panel.
#include <gtest/gtest.h>

#include "panel_fixture.h"
#include "resource.h"

namespace cpl_test {
namespace {

using asio_test::kFirst;

class PanelKeyboardTest : public asio_test::FakeChannelTest {
 protected:
  void PlugOne(ULONG fixedRate) {
    devices.push_back(Device(kFirst, u"Alpha DAC"));
    devices.back().fixedRate = fixedRate;
    devices.back().range = {44100, 192000};
    devices.back().dsdNative = 0;
    Plug();
  }
  struct Press {
    WORD key;
    bool shift;
    int focused;  // the item with the focus afterwards
  };
  static void ExpectFocusAfter(Panel& panel, std::initializer_list<Press> presses) {
    for (const Press& press : presses) {
      panel.Key(press.key, press.shift);
      EXPECT_EQ(panel.FocusedItem(), press.focused)
          << (press.shift ? "shift+" : "") << press.key << " to " << press.focused;
    }
  }
};

TEST_F(PanelKeyboardTest, TabMovesTheFocusRoundTheControlsAndTheKeysActOnTheFocusedOne) {
  PlugOne(48000);
  RunAsUser([&] {
    StoreSettings(kFirst, 48000, 63);
    Panel panel;
    // The dialog starts with the first tab stop, the device list.
    EXPECT_EQ(panel.FocusedItem(), IDC_DEVICE_LIST);
    ExpectFocusAfter(panel, {{VK_TAB, false, IDC_BUFFER_SLIDER},
                             {VK_TAB, false, IDC_RATE_COMBO},
                             {VK_TAB, false, IDC_DEVICE_LIST},
                             {VK_TAB, true, IDC_RATE_COMBO},
                             {VK_TAB, true, IDC_BUFFER_SLIDER}});
    panel.Render("keyboard-focus-on-slider");
    // The slider keeps its arrows: they move it, not the focus.
    panel.Key(VK_LEFT);
    EXPECT_EQ(panel.FocusedItem(), IDC_BUFFER_SLIDER);
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 62u);
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"252 Samples");
    // So does the rate combo: Down chooses the next rate.
    panel.Key(VK_TAB);
    panel.Key(VK_DOWN);
    EXPECT_EQ(panel.FocusedItem(), IDC_RATE_COMBO);
    EXPECT_EQ(panel.ComboSelection(), u"88200 Hz");
    EXPECT_EQ(StoredNumber(kSettingSamplingRate), 88200u);
    // Escape closes an open list first, and the panel only after that.
    panel.OpenComboList();
    ASSERT_NE(SendMessageW(panel.Item(IDC_RATE_COMBO), CB_GETDROPPEDSTATE, 0, 0), 0);
    panel.Key(VK_ESCAPE);
    EXPECT_EQ(SendMessageW(panel.Item(IDC_RATE_COMBO), CB_GETDROPPEDSTATE, 0, 0), 0);
    EXPECT_EQ(sim::panel::PanelWindows().size(), 1u);
    panel.Key(VK_ESCAPE);
    EXPECT_EQ(WaitForSingleObject(panel.Process(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(sim::panel::PanelWindows().empty());
  });
}

TEST_F(PanelKeyboardTest, ADisabledComboIsNoTabStop) {
  PlugOne(0);  // free-rate mode: the combo stays disabled
  RunAsUser([&] {
    StoreSettings(kFirst, 48000, 63);
    Panel panel;
    ASSERT_FALSE(panel.Enabled(IDC_RATE_COMBO));
    ExpectFocusAfter(panel, {{VK_TAB, false, IDC_BUFFER_SLIDER},
                             {VK_TAB, false, IDC_DEVICE_LIST},
                             {VK_TAB, true, IDC_BUFFER_SLIDER}});
  });
}

}  // namespace
}  // namespace cpl_test
