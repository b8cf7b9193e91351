// `tarnlink panel`: the user's actions reach the settings, the window is drawn, and actions the
// panel does not offer are refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_tool.h"

namespace tarnlink::tool {
namespace {

TEST(PanelCommand, ActsAsTheUserAndDrawsTheWindow) {
  const std::string png = ScratchPath(".png");
  const Outcome o = RunTool({"panel", "--device", "velmor-dac", "--device", "uac2-playback-only",
                             "--click", "buffer=31", "--click", "key=right", "--out", png});
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_NE(o.out.find("buffer size: 132 Samples (trackbar at 32)"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("buffer_size_index=32"), std::string::npos) << o.out;
  EXPECT_GT(std::filesystem::file_size(png), 1000u);
  std::filesystem::remove(png);
}

// An ASIO host's button for the driver's settings opens the panel; the user goes round it
// with the keyboard while the host holds the driver.
TEST(PanelCommand, OpensThroughAHostsControlPanelCall) {
  const Outcome o = RunTool({"panel", "--from-host", "--click", "buffer=20", "--click", "key=tab",
                             "--click", "key=shift+tab", "--click", "key=right"});
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(o.err, "");  // the host made every call as it expected
  EXPECT_NE(o.out.find("focus: buffer size"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("(trackbar at 21)"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("buffer_size_index=21"), std::string::npos) << o.out;
}

TEST(PanelCommand, RefusesWhatThePanelDoesNotOffer) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"panel", "--click", "device=3"}, "the list has no device 3"},
      {{"panel", "--click", "rate=12345"}, "the device offers no 12345 Hz"},
      {{"panel", "--click", "buffer=128"}, "buffer sizes go from index 0 to 127"},
      {{"panel", "--click", "volume=3"}, "is no action"},
      {{"panel", "--click", "key=f5"}, "unknown key"},
      {{"panel", "--from-host", "--host-running"}, "excludes"},
  };
  for (const auto& c : cases) {
    const Outcome o = RunTool(c.args);
    EXPECT_EQ(o.exit, 2) << c.message;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
  }
}

}  // namespace
}  // namespace tarnlink::tool
