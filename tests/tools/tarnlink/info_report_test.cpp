// `tarnlink info`: the JSON report of catalogue devices, and the command's answers to dumps and
// arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device_report.h"
#include "info_command.h"
#include "report_output.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_builder.h"

namespace tarnlink::tool {
namespace {

std::string JsonOf(const char* name) {
  DeviceReport report;
  std::string failure;
  EXPECT_TRUE(ProbeDevice(
      sim::devices::MakeCatalogueDevice(name), sim::devices::UsbSpeed::High,
      [&](CUSBAudioCL& model, const ProbeStatus& status) { report = CollectReport(model, status); },
      &failure))
      << failure;
  return ReportJson(report);
}

struct JsonCase {
  const char* device;
  std::vector<std::string> fragments;
};

class InfoJsonTest : public ::testing::TestWithParam<JsonCase> {};

TEST_P(InfoJsonTest, ReportsHowTheDriverSeesTheDevice) {
  const std::string json = JsonOf(GetParam().device);
  for (const std::string& fragment : GetParam().fragments) {
    EXPECT_NE(json.find(fragment), std::string::npos) << fragment << "\nin " << json;
  }
  // One object per line; brackets balance.
  EXPECT_EQ(json.back(), '\n');
  int depth = 0;
  for (char c : json) depth += (c == '{' || c == '[') - (c == '}' || c == ']');
  EXPECT_EQ(depth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, InfoJsonTest,
    ::testing::Values(
        JsonCase{
            "velmor-dac",
            {R"j("uac_version":"2.0")j", R"j("speed":"high")j", R"j("vendor_id":31281)j",
             R"j("product":"Velmor USB Audio Tarn")j", R"j("quirks":[])j",
             R"j("playback_interface":1)j", R"j("capture_interface":2)j",
             R"j("shared_clock":true)j", R"j("implicit_feedback":false)j",
             R"j("id":3,"name":"ClockSelector(3)","kind":"clock_selector","terminal_type":null,"source_ids":[1,2],"clock_id":null)j",
             R"j("kind":"output_terminal","terminal_type":770,"source_ids":[11],"clock_id":3)j",
             R"j("rates":null)j",
             R"j("feedback_endpoint":{"address":129,"sync":"none","usage":"feedback","max_packet":4,"interval":4})j",
             R"j({"rate":768000,"tag":1,"channels":2,"container_bits":32})j"}},
        JsonCase{"uac1-headset",
                 {R"j("uac_version":"1.0")j", R"j("speed":"full")j", R"j("clock_id":null)j",
                  R"j("rates":[44100,48000])j", R"j("shared_clock":true)j",
                  R"j("feedback_endpoint":{"address":129,"sync":"none","usage":"data")j",
                  R"j("capture":[{"rate":44100,"tag":1,"channels":1,"container_bits":16})j"}},
        JsonCase{"uac2-slow-feedback",
                 {R"j("implicit_feedback":true)j", R"j("feedback_endpoint":null)j"}},
        JsonCase{"uac2-playback-only", {R"j("capture_interface":null)j", R"j("capture":[])j"}},
        JsonCase{
            "quirk-length-header",
            {R"j("quirks":["vendor_interface_class","configure_all_interfaces","playback_length_header"])j"}}),
    [](const auto& info) {
      std::string n = info.param.device;
      for (char& c : n)
        if (c == '-') c = '_';
      return n;
    });

// --- the command ---------------------------------------------------------------------------

class InfoCommandTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }

  // A sysfs-style dump: the device descriptor, then the configuration (altered by mutate).
  std::string WriteDump(const char* device, void (*mutate)(std::vector<uint8_t>&) = nullptr) {
    const sim::devices::AudioFunctionSpec& spec = sim::devices::FindCatalogueEntry(device)->spec;
    std::vector<uint8_t> bytes = sim::devices::BuildDeviceDescriptor(spec);
    std::vector<uint8_t> config = sim::devices::BuildConfigurationDescriptor(spec);
    if (mutate != nullptr) mutate(config);
    bytes.insert(bytes.end(), config.begin(), config.end());
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path_;
  }

  int Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return RunInfo(static_cast<int>(argv.size()), argv.data());
  }

  std::string path_ = (std::filesystem::temp_directory_path() /
                       ("tarnlink-info-" +
                        std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".bin"))
                          .string();
};

TEST_F(InfoCommandTest, ExitCodesTellAcceptedFromRefused) {
  EXPECT_EQ(Run({"--descriptors", WriteDump("uac1-speaker"), "--json"}), 0);
  EXPECT_EQ(Run({"--descriptors", WriteDump("velmor-dac"), "--speed", "full"}), 0);
  // The audio control interface's class code is no longer audio: nothing to drive.
  EXPECT_EQ(
      Run({"--descriptors", WriteDump("velmor-dac",
                                      [](std::vector<uint8_t>& c) {
                                        for (size_t at = 0; at + 8 < c.size(); at += c[at]) {
                                          if (c[at + 1] == 4 && c[at + 5] == 1 && c[at + 6] == 1) {
                                            c[at + 5] = 0x42;
                                            return;
                                          }
                                        }
                                      })}),
      2);
  EXPECT_EQ(Run({"--descriptors", path_ + ".missing"}), 2);
  EXPECT_EQ(Run({"--device", "no-such-device"}), 2);
  EXPECT_EQ(Run({"--speed", "ludicrous"}), 2);
  EXPECT_EQ(Run({"--device"}), 0);  // lists the catalogue
  EXPECT_EQ(Run({"--device", "uac2-implicit", "--json"}), 0);
}

}  // namespace
}  // namespace tarnlink::tool
