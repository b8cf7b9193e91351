// `tarnlink controls`: what it shows of a device's controls, the change it applies through the
// driver, and its refusals.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_tool.h"

namespace tarnlink::tool {
namespace {

using Json = nlohmann::json;

Json JsonRun(std::vector<std::string> args) {
  args.insert(args.begin(), "controls");
  args.push_back("--json");
  const Outcome o = RunTool(args);
  EXPECT_EQ(o.exit, 0) << o.err;
  return Json::parse(o.out);
}

TEST(ControlsCommand, ShowsTheDefaultDevicesControls) {
  const Json json = JsonRun({});
  EXPECT_EQ(json["device"], "velmor-dac");
  EXPECT_EQ(json["component_id"]["manufacturer"], "D5A47FA8-6D98-11D1-A21A-00A0C9223196");
  EXPECT_EQ(json["component_id"]["version"], 1);
  EXPECT_EQ(json["modes"][0]["modes"], Json::array({"RAW"}));
  EXPECT_TRUE(json["modes"][1]["modes"].empty());
  ASSERT_EQ(json["jacks"].size(), 2u);
  EXPECT_EQ(json["jacks"][0]["category"], "Headphones");
  EXPECT_EQ(json["jacks"][0]["connected"], true);
  EXPECT_EQ(json["jacks"][0]["presence_detection"], true);
  EXPECT_EQ(json["jacks"][1]["presence_detection"], false);
  ASSERT_EQ(json["nodes"].size(), 2u);
  EXPECT_EQ(json["nodes"][1]["kind"], "volume");
  EXPECT_EQ(json["nodes"][1]["unit"], 11);
  EXPECT_EQ(json["nodes"][1]["channels"][0]["min_db"], -100.0);
  EXPECT_EQ(json["nodes"][1]["channels"][0]["step_db"], 0.5);
  EXPECT_TRUE(json["applied"].empty());
  EXPECT_TRUE(json["nodes_after"].is_null());
}

TEST(ControlsCommand, AppliesVolumeAndMuteAndShowsWhatTheDeviceHolds) {
  const Json json = JsonRun({"--device", "uac2-playback-only", "--volume", "-10.3", "--mute", "on"});
  ASSERT_EQ(json["applied"].size(), 3u);  // two volume channels and the mute
  for (const Json& applied : json["applied"])
    EXPECT_EQ(applied["status"].get<std::string>().rfind("STATUS_SUCCESS", 0), 0u) << applied;
  EXPECT_EQ(json["nodes_after"][1]["channels"][1]["db"], -10.5);
  EXPECT_EQ(json["nodes_after"][0]["channels"][0]["muted"], true);
  const Json& unit = json["device_holds"][0];
  EXPECT_EQ(unit["unit"], 11);
  EXPECT_EQ(unit["channels"][0]["muted"], true);
  EXPECT_EQ(unit["channels"][1]["db"], -10.5);
  EXPECT_EQ(unit["channels"][2]["db"], -10.5);

  const Outcome text = RunTool({"controls", "--device", "uac2-playback-only", "--volume", "6"});
  EXPECT_EQ(text.exit, 0) << text.err;
  EXPECT_NE(text.out.find("channel 1: -100.00 dB to 0.00 dB in steps of 0.50 dB, now 0.00 dB"),
            std::string::npos)
      << text.out;
}

TEST(ControlsCommand, JacksReportTheConnectorTheyAreGiven) {
  const Json unplugged = JsonRun({"--jack", "unplugged"});
  EXPECT_EQ(unplugged["jacks"][0]["connected"], false);
  EXPECT_EQ(unplugged["jacks"][0]["presence_detection"], true);
  const Json unreadable = JsonRun({"--jack", "unreadable"});
  EXPECT_EQ(unreadable["jacks"][0]["connected"], true);
  EXPECT_EQ(unreadable["jacks"][0]["presence_detection"], false);
}

TEST(ControlsCommand, RefusesBadArguments) {
  EXPECT_EQ(RunTool({"controls", "--mute", "maybe"}).exit, 2);
  EXPECT_EQ(RunTool({"controls", "--jack", "loose"}).exit, 2);
  EXPECT_EQ(RunTool({"controls", "--device", "no-such-device"}).exit, 2);
}

// An Audio 1.0 unit whose volume sits on its master channel alone: every channel's volume is
// the master's, read with GET_MIN, GET_MAX and GET_RES.
TEST(ControlsCommand, AMasterOnlyVolumeServesEveryChannel) {
  const Json json = JsonRun({"--device", "uac1-speaker", "--volume", "-20"});
  const Json& volume = json["nodes_after"][1];
  ASSERT_EQ(volume["channels"].size(), 2u);
  EXPECT_EQ(volume["channels"][0]["db"], -20.0);
  EXPECT_EQ(volume["channels"][1]["db"], -20.0);
  EXPECT_EQ(json["device_holds"][0]["channels"][0]["db"], -20.0);
}

}  // namespace
}  // namespace tarnlink::tool
