// The buffer-size controls: the label at different rates, a stored index beyond the table, and
// the trackbar's codes as dragging, releasing and keys produce them.
#include <gtest/gtest.h>

#include "panel_fixture.h"
#include "resource.h"

namespace cpl_test {
namespace {

using asio_test::kFirst;

class PanelBuffersTest : public asio_test::FakeChannelTest {
 protected:
  void PlugFreeRate() {
    devices.push_back(Device(kFirst, u"Alpha DAC"));
    devices.back().range = {32000, 768000};
    Plug();
  }
};

TEST_F(PanelBuffersTest, TheLabelFollowsTheStoredRate) {
  // A device whose lowest rate has no name: the combo stays empty and the stored rate counts.
  devices.push_back(Device(kFirst, u"Alpha DAC"));
  devices.back().range = {50000, 768000};
  devices.back().dsdNative = 0;
  Plug();
  RunAsUser([&] {
    StoreSettings(kFirst, 48000, 63);
    Panel panel;
    // Each settings change (as a host's rate change writes it) refreshes the controls.
    const struct {
      DWORD rate;
      const char16_t* label;
    } cases[] = {{48000, u"256 Samples"},
                 {32000, u"256 Samples"},
                 {176400, u"1024 Samples"},
                 {50000, u"0 Samples"}};  // a multiple of neither 44100 nor 48000
    for (const auto& c : cases) {
      CmnRegUtil().WriteNumber(kSettingSamplingRate, c.rate);
      Settle();
      EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), c.label) << c.rate;
    }
  });
}

TEST_F(PanelBuffersTest, AStoredIndexBeyondTheTableIsRewrittenAsTheLast) {
  PlugFreeRate();
  RunAsUser([&] {
    StoreSettings(kFirst, 48000, 200);
    Panel panel;
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 127u);
    EXPECT_EQ(panel.SliderPosition(), 127);
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"512 Samples");
  });
}

TEST_F(PanelBuffersTest, TheTrackbarStoresOnReleaseAndOnKeysButNotWhileDragging) {
  PlugFreeRate();
  RunAsUser([&] {
    StoreSettings(kFirst, 48000, 63);
    Panel panel;
    HWND slider = panel.Item(IDC_BUFFER_SLIDER);
    // Dragging: the label follows, nothing is stored until the thumb is let go.
    SendMessageW(slider, TBM_SETPOS, TRUE, 15);
    SendMessageW(panel.Dialog(), WM_HSCROLL, MAKELONG(TB_THUMBTRACK, 15),
                 reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"64 Samples");
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 63u);
    // End of a move changes nothing.
    SendMessageW(slider, TBM_SETPOS, TRUE, 20);
    SendMessageW(panel.Dialog(), WM_HSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 63u);
    // The user's own drag, release and keys.
    SendMessageW(slider, TBM_SETPOS, TRUE, 63);
    panel.DragSliderTo(31);
    EXPECT_EQ(panel.SliderPosition(), 31);
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 31u);
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"128 Samples");
    panel.Key(VK_RIGHT);
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 32u);
    panel.Key(VK_END);
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 127u);
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"512 Samples");
    panel.Key(VK_PRIOR);  // a page is a fifth of the range
    EXPECT_EQ(StoredNumber(kSettingBufferSizeIndex), 102u);
  });
}

}  // namespace
}  // namespace cpl_test
