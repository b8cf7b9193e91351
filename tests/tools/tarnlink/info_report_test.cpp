// `tarnlink info`: the JSON report of catalogue devices, and the command's answers to dumps and
// arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device_report.h"
#include "report_output.h"
#include "run_tool.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_builder.h"

namespace tarnlink::tool {
namespace {

std::string JsonOf(const char* name) {
  DeviceReport report;
  std::string failure;
  std::unique_ptr<sim::devices::UacDevice> device = sim::devices::MakeCatalogueDevice(name);
  const sim::machine::Binding binding = PackageBinding(*device);
  EXPECT_TRUE(StartAdapter(
      std::move(device), sim::devices::UsbSpeed::High, binding, {},
      [&](UsbAudioAdapter* adapter, const StartOutcome& outcome) {
        report = CollectReport(adapter, outcome);
      },
      &failure))
      << failure;
  return ReportJson(report);
}

// A catalogue name as a test name.
std::string Identifier(std::string name) {
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
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
             R"j("feedback_endpoint":{"address":129,"sync":"none","usage":"feedback","max_packet":4,"interval":4,"interval_us":1000,"transactions":1,"capacity":4,"feedback_format":"16.16","feedback_period_us":1000})j",
             R"j({"rate":768000,"tag":1,"channels":2,"container_bits":32,"fits_endpoint":true)j",
             R"j("manufacturer":"Velmor","product":"Velmor USB Audio Tarn","serial_number":"VT0001")j",
             R"j("terminal_type_name":"Headphones")j",
             R"j("clock_kind":"internal_programmable","clock_rates":{"rates":[48000,96000,192000,384000,768000],"spans":[]})j",
             // Behind the selector: the rates of both clock sources, one by one.
             R"j("rates":[44100,48000,88200,96000,176400,192000,352800,384000,705600,768000],"continuous_rates":false,"rate_spans":[],"channel_config":["FL","FR"])j",
             R"j("feature_controls":[{"channel":0,"controls":["mute","volume"],"volume_db":{"min":-100.0,"max":0.0,"res":0.5}}])j",
             R"j("used":true)j", R"j("ignored_interfaces":[])j",
             // The filter as the audio engine reads it: the widest range first, the attribute
             // list behind the last, bridge pins named by their terminal, signal-flow order.
             R"j({"id":0,"data_flow":"in","communication":"sink","category":"AUDIO","data_ranges":[{"kind":"audio","subformat":"PCM","channels":2,"min_bits":32,"max_bits":32,"min_rate":44100,"max_rate":44100,"attributes":false})j",
             R"j("min_bits":16,"max_bits":16,"min_rate":44100,"max_rate":44100,"attributes":true}]})j",
             R"j({"id":1,"data_flow":"out","communication":"bridge","category":"Headphones","data_ranges":[{"kind":"analog","attributes":false}]})j",
             R"j("nodes":["ADC","DAC","MUTE","VOLUME"])j",
             R"j("connections":[{"from":{"node":null,"pin":2},"to":{"node":0,"pin":1}},{"from":{"node":0,"pin":0},"to":{"node":null,"pin":3}},{"from":{"node":null,"pin":0},"to":{"node":3,"pin":1}})j"}},
        JsonCase{"uac1-headset",
                 {R"j("uac_version":"1.0")j", R"j("speed":"full")j", R"j("clock_id":null)j",
                  R"j("rates":[44100,48000])j", R"j("shared_clock":true)j",
                  R"j("feedback_endpoint":{"address":129,"sync":"none","usage":"data")j",
                  R"j("feedback_format":"10.14","feedback_period_us":2000)j",
                  R"j("channels":2,"channel_config":["L","R"])j",
                  R"j("capture":[{"rate":44100,"tag":1,"channels":1,"container_bits":16)j"}},
        // Playback without a feedback endpoint, paced by the capture stream.
        JsonCase{"uac2-implicit", {R"j("implicit_feedback":true)j"}},
        JsonCase{"uac2-slow-feedback",
                 {R"j("implicit_feedback":true)j", R"j("feedback_endpoint":null)j",
                  R"j("ignored_endpoints":[{"address":129,"usage":"feedback","reason":"served only every 16 ms, too rarely for the driver to stream through; playback is paced by the capture stream instead"}])j"}},
        JsonCase{"quirk-dfu-interface",
                 {R"j("ignored_interfaces":[{"number":3,"class":"device firmware upgrade","subclass":1,)j"}},
        // Bound as its audio function: the other functions' interfaces are listed too.
        JsonCase{"composite-hid-midi",
                 {R"j("ignored_interfaces":[{"number":3,"class":"HID","subclass":0,"reason":"another function of the composite device, which Windows gives to its own driver"},{"number":4,"class":"audio control","subclass":1,)j",
                  R"j({"number":5,"class":"MIDI streaming","subclass":3,)j"}},
        JsonCase{"uac2-playback-only",
                 {R"j("capture_interface":null)j", R"j("capture":[])j",
                  R"j("nodes":["DAC","MUTE","VOLUME"])j"}},
        JsonCase{
            "quirk-length-header",
            {R"j("quirks":["vendor_interface_class","configure_all_interfaces","playback_length_header"])j"}}),
    [](const ::testing::TestParamInfo<JsonCase>& param) { return Identifier(param.param.device); });

// --- the command line ----------------------------------------------------------------------

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

  std::string path_ = ScratchPath(".bin");
};

TEST_F(InfoCommandTest, ExitCodesTellAcceptedFromRefused) {
  EXPECT_EQ(RunTool({"info", "--descriptors", WriteDump("uac1-speaker"), "--json"}).exit, 0);
  EXPECT_EQ(RunTool({"info", "--descriptors", WriteDump("velmor-dac"), "--speed", "full"}).exit,
            0);
  // The audio control interface's class code is no longer audio: nothing to drive.
  const Outcome refused = RunTool(
      {"info", "--descriptors", WriteDump("velmor-dac", [](std::vector<uint8_t>& c) {
         for (size_t at = 0; at + 8 < c.size(); at += c[at]) {
           if (c[at + 1] == 4 && c[at + 5] == 1 && c[at + 6] == 1) {
             c[at + 5] = 0x42;
             return;
           }
         }
       })});
  EXPECT_EQ(refused.exit, 2);
  EXPECT_NE(refused.err.find("the driver refuses the device"), std::string::npos) << refused.err;
  EXPECT_EQ(RunTool({"info", "--device", "uac2-implicit", "--json"}).exit, 0);
}

// Every mistake on the command line is a message on stderr and exit code 2, never a crash, a
// silent default or output on stdout.
struct ArgumentCase {
  const char* name;
  std::vector<std::string> args;
  const char* error;  // part of the message
};

class InfoArgumentTest : public InfoCommandTest, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(InfoArgumentTest, IsRefusedWithAMessage) {
  std::vector<std::string> args = {"info"};
  for (const std::string& a : GetParam().args) {
    if (a == "DUMP") {
      args.push_back(WriteDump("uac1-speaker"));
    } else if (a == "TEXT") {
      std::ofstream(path_) << "not descriptors\n";
      args.push_back(path_);
    } else {
      args.push_back(a);
    }
  }
  const Outcome o = RunTool(args);
  EXPECT_EQ(o.exit, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_NE(o.err.find(GetParam().error), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, InfoArgumentTest,
    ::testing::Values(
        ArgumentCase{"DirectoryAsDescriptors", {"--descriptors", "/"}, "is a directory"},
        ArgumentCase{"MissingFile", {"--descriptors", "/nonexistent/descriptors"}, "No such file"},
        ArgumentCase{"EmptyDescriptors", {"--descriptors", ""}, "is empty"},
        ArgumentCase{"EmptyDevice", {"--device", ""}, "is empty"},
        ArgumentCase{"UnknownDevice", {"--device", "no-such-device"}, "no-such-device"},
        ArgumentCase{"DeviceAndDescriptors", {"--device", "velmor-dac", "--descriptors", "DUMP"},
                     "excludes"},
        ArgumentCase{"ListAndDevice", {"--list", "--device", "velmor-dac"}, "excludes"},
        ArgumentCase{"MissingLibrary", {"--device-library", "/nonexistent/device.so"},
                     "/nonexistent/device.so"},
        ArgumentCase{"DumpAsJson", {"--dump-descriptors", "out.bin", "--json"}, "excludes"},
        ArgumentCase{"UnknownSpeed", {"--speed", "ludicrous"}, "ludicrous"},
        ArgumentCase{"UnknownArgument", {"--colour"}, "--colour"},
        ArgumentCase{"NotADescriptorsFile", {"--descriptors", "TEXT"},
                     "not a descriptors file"},
        ArgumentCase{"RegistryWithoutValue", {"--registry", "SampleRate"}, "not NAME=VALUE"},
        ArgumentCase{"RegistryWithoutName", {"--registry", "=44100"}, "empty NAME"},
        ArgumentCase{"RegistryEmptyValue", {"--registry", "SampleRate="}, "not a 32-bit number"},
        ArgumentCase{"RegistryNegative", {"--registry", "SampleRate=-1"}, "not a 32-bit number"},
        ArgumentCase{"RegistryBeyond32Bits", {"--registry", "SampleRate=4294967296"},
                     "not a 32-bit number"},
        ArgumentCase{"RegistryHexBeyond32Bits", {"--registry", "gDumpCapture=0x100000000"},
                     "not a 32-bit number"},
        ArgumentCase{"RegistryTrailingText", {"--registry", "SampleRate=96000Hz"},
                     "not a 32-bit number"},
        ArgumentCase{"RegistryBareHexPrefix", {"--registry", "SampleRate=0x"},
                     "not a 32-bit number"},
        ArgumentCase{"RegistryNameNotAscii", {"--registry", "Sample\xC3\xA9=1"},
                     "not printable ASCII"},
        ArgumentCase{"UnknownController", {"--controller", "via"}, "via"},
        ArgumentCase{"RegistryWithList", {"--list", "--registry", "SampleRate=1"}, "excludes"},
        ArgumentCase{"ControllerWithDump",
                     {"--dump-descriptors", "out.bin", "--controller", "ati"},
                     "excludes"}),
    [](const ::testing::TestParamInfo<ArgumentCase>& param) { return param.param.name; });

TEST_F(InfoCommandTest, HelpAndListingAnswerOnStdout) {
  for (const char* help : {"--help", "-h"}) {
    const Outcome o = RunTool({"info", help});
    EXPECT_EQ(o.exit, 0) << help;
    EXPECT_NE(o.out.find("/sys/bus/usb/devices/1-1/descriptors"), std::string::npos) << o.out;
  }
  EXPECT_NE(RunTool({"--help"}).out.find("info"), std::string::npos);

  const Outcome list = RunTool({"info", "--list", "--json"});
  EXPECT_EQ(list.exit, 0);
  EXPECT_EQ(list.out.rfind(R"j({"devices":[{"name":"velmor-dac","exercises":)j", 0), 0u) << list.out;

  // --device=NAME is the same as --device NAME.
  EXPECT_EQ(RunTool({"info", "--device=uac1-headset", "--json"}).out,
            RunTool({"info", "--device", "uac1-headset", "--json"}).out);
}

TEST_F(InfoCommandTest, ADeviceLibraryIsReportedAsTheDeviceItServes) {
  const Outcome library = RunTool({"info", "--device-library", TARNLINK_EXAMPLE_DEVICE, "--json"});
  EXPECT_EQ(library.exit, 0) << library.err;
  EXPECT_EQ(library.out, RunTool({"info", "--json"}).out);
  EXPECT_EQ(RunTool({"info", "--device-library", TARNLINK_EXAMPLE_DEVICE, "--device",
                     "velmor-dac"})
                .exit,
            2);
}

TEST_F(InfoCommandTest, ADumpHasNoStringsToShow) {
  const Outcome o = RunTool({"info", "--descriptors", WriteDump("velmor-dac"), "--json"});
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_NE(o.out.find(R"j("manufacturer":null,"product":null,"serial_number":null)j"),
            std::string::npos)
      << o.out;
}

TEST_F(InfoCommandTest, DumpedDescriptorsReadBackAsTheSameFunction) {
  for (const sim::devices::CatalogueEntry& e : sim::devices::Catalogue()) {
    ASSERT_EQ(RunTool({"info", "--device", e.name, "--dump-descriptors", path_}).exit, 0);
    std::ifstream in(path_, std::ios::binary);
    const std::vector<uint8_t> dumped((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
    std::vector<uint8_t> expected = sim::devices::BuildDeviceDescriptor(e.spec);
    const std::vector<uint8_t> config = sim::devices::BuildConfigurationDescriptor(e.spec);
    expected.insert(expected.end(), config.begin(), config.end());
    EXPECT_EQ(dumped, expected) << e.name;
    EXPECT_EQ(RunTool({"info", "--descriptors", path_}).exit, 0) << e.name;
  }
  EXPECT_EQ(RunTool({"info", "--dump-descriptors", "/nonexistent/dir/out.bin"}).exit, 2);
}

TEST_F(InfoCommandTest, SaysWhatTheBusSpeedCannotCarryOrRun) {
  // 768 kHz of two 32-bit channels is 6152 bytes per 1 ms frame at most, against 776.
  const Outcome full = RunTool({"info", "--speed", "full"});
  EXPECT_EQ(full.exit, 0);
  EXPECT_NE(full.out.find("768000 Hz: PCM, 2 ch, 32-bit containers - not usable: packets of up "
                          "to 6152 bytes"),
            std::string::npos)
      << full.out;
  const Outcome json = RunTool({"info", "--speed", "full", "--json"});
  EXPECT_NE(json.out.find(R"j({"rate":768000,"tag":1,"channels":2,"container_bits":32,"fits_endpoint":false,"largest_packet":6152)j"),
            std::string::npos)
      << json.out;

  const Outcome high = RunTool({"info", "--device", "uac1-headset", "--speed", "high"});
  EXPECT_NE(high.out.find("note: high speed was asked for, but the device is full-speed only"),
            std::string::npos)
      << high.out;
  EXPECT_NE(high.out.find("at full speed"), std::string::npos);
}

}  // namespace
}  // namespace tarnlink::tool
