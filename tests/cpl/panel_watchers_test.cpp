// What keeps the panel current without the user: a host ending tidies a stored DSD rate, and a
// settings change made elsewhere reaches the controls.
#include <gtest/gtest.h>

#include "devices/single_host_objects.h"
#include "panel_fixture.h"
#include "resource.h"

namespace cpl_test {
namespace {

using asio_test::kFirst;

using PanelWatchersTest = asio_test::FakeChannelTest;

TEST_F(PanelWatchersTest, AHostEndingLeavesAPcmRateBehind) {
  devices.push_back(Device(kFirst, u"Alpha DAC"));
  Plug();
  RunAsUser([&] {
    StoreSettings(kFirst, 44100);
    Panel panel;
    const struct {
      DWORD stored;
      DWORD after;
    } cases[] = {{5644800, 176400}, {96000, 96000}, {2822400, 88200}};
    for (const auto& c : cases) {
      {
        HostPresence host;
        CmnRegUtil().WriteNumber(kSettingSamplingRate, c.stored);
        Settle();
        EXPECT_EQ(StoredNumber(kSettingSamplingRate), c.stored) << "while the host runs";
      }
      EXPECT_EQ(StoredNumber(kSettingSamplingRate), c.after) << c.stored;
    }
  });
}

TEST_F(PanelWatchersTest, ASelectedDeviceThatIsNotPresentIsReplacedByTheOneShown) {
  devices.push_back(Device(kFirst, u"Alpha DAC"));
  Plug();
  RunAsUser([&] {
    StoreSettings(kFirst, 48000);
    Panel panel;
    CmnRegUtil().WriteSelected(u"USB\\VID_9999&PID_9999\\9");
    Settle();
    EXPECT_EQ(StoredSelected(), kFirst);
    EXPECT_EQ(panel.Text(IDC_BUFFER_SIZE), u"256 Samples");
  });
}

}  // namespace
}  // namespace cpl_test
