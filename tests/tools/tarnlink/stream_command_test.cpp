// `tarnlink play`, `record` and `duplex`: whole runs through the audio engine and the driver as
// the command line starts them, their JSON report, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "audio_file.h"
#include "run_tool.h"

namespace tarnlink::tool {
namespace {

using Json = nlohmann::json;

Json RunJson(std::vector<std::string> args) {
  args.push_back("--json");
  const Outcome o = RunTool(args);
  EXPECT_EQ(o.exit, 0) << o.err;
  return Json::parse(o.out, nullptr, false);
}

TEST(StreamCommand, PlayReportsABitExactRunUnderItsStableKeys) {
  const Json j = RunJson({"play", "--seconds", "1"});
  ASSERT_FALSE(j.is_discarded());
  for (const char* key :
       {"path", "device", "rate", "format", "channels", "frames_sent", "frames_received",
        "bit_exact", "first_mismatch_frame", "gaps", "repeats", "fifo_underruns", "fifo_overruns",
        "announced_glitches", "latency_frames", "pool_allocations", "sim_speed"}) {
    EXPECT_TRUE(j.contains(key)) << key;
  }
  EXPECT_EQ(j["path"], "os");
  EXPECT_EQ(j["device"], "velmor-dac");
  EXPECT_EQ(j["rate"], 48000);
  EXPECT_EQ(j["format"], "float");
  EXPECT_EQ(j["bit_exact"], true);
  EXPECT_TRUE(j["first_mismatch_frame"].is_null());
  EXPECT_EQ(j["gaps"], 0);
  EXPECT_EQ(j["repeats"], 0);
  EXPECT_EQ(j["fifo_underruns"], 0);
  EXPECT_EQ(j["announced_glitches"], 0);
  EXPECT_EQ(j["pool_allocations"], 0);
  EXPECT_TRUE(j["latency_frames"].is_null());
  EXPECT_GE(j["frames_received"].get<uint64_t>(), 40000u);
  // The device asks for its own clock's rate, corrected by no more than a sixteenth.
  ASSERT_TRUE(j["feedback_range"].is_array()) << j.dump();
  const double lowest = j["feedback_range"][0], highest = j["feedback_range"][1];
  EXPECT_LE(lowest, highest);
  EXPECT_GE(lowest, 48000 * 15.0 / 16);
  EXPECT_LE(highest, 48000 * 17.0 / 16);
}

TEST(StreamCommand, PlotsThePngOrSvgItIsAskedFor) {
  for (const char* ending : {".svg", ".png"}) {
    const std::string path = ScratchPath(ending);
    const Outcome o = RunTool({"duplex", "--seconds", "0.3", "--plot", path});
    EXPECT_EQ(o.exit, 0) << o.err;
    std::ifstream file(path, std::ios::binary);
    const std::string head(std::istreambuf_iterator<char>(file), {});
    EXPECT_NE(head.find(ending == std::string(".svg") ? "<svg" : "\x89PNG"), std::string::npos)
        << ending;
    std::filesystem::remove(path);
  }
  const Outcome wrong = RunTool({"play", "--plot", "plot.txt"});
  EXPECT_EQ(wrong.exit, 2);
  EXPECT_NE(wrong.err.find(".png or .svg"), std::string::npos) << wrong.err;
}

// A file that cannot be written costs the file, not the run: the report is printed, the error
// stands beside it, and the exit code says that something failed.
TEST(StreamCommand, AFailedWriteStillPrintsTheReport) {
  const std::string nowhere = "/nonexistent-directory/tarnlink";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"play", "--out", nowhere + ".wav"},
        std::vector<std::string>{"record", "--out", nowhere + ".wav"},
        std::vector<std::string>{"duplex", "--plot", nowhere + ".svg"}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    std::vector<std::string> run = args;
    run.insert(run.end(), {"--seconds", "0.3"});
    const Outcome text = RunTool(run);
    EXPECT_EQ(text.exit, 1);
    EXPECT_NE(text.out.find("bit-exact         yes"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find(args[2]), std::string::npos) << text.err;
    run.push_back("--json");
    const Outcome json = RunTool(run);
    EXPECT_EQ(json.exit, 1);
    const Json j = Json::parse(json.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << json.out;
    EXPECT_EQ(j["bit_exact"], true);
    EXPECT_NE(json.err.find(args[2]), std::string::npos) << json.err;
  }
}

TEST(StreamCommand, RecordChecksWhatTheEngineReceived) {
  for (const char* format : {"pcm16", "pcm24", "pcm32", "float"}) {
    SCOPED_TRACE(format);
    const Json j = RunJson({"record", "--rate", "96000", "--format", format, "--seconds", "0.5"});
    EXPECT_EQ(j["bit_exact"], true) << j.dump();
    EXPECT_GE(j["frames_received"].get<uint64_t>(), 40000u);
  }
}

// The output is looped back to the input: the engine hears what it played, bit-exact, no
// sooner than the converters' own delay allows.
TEST(StreamCommand, DuplexHearsItselfAndMeasuresTheRoundTrip) {
  const Json j = RunJson({"duplex", "--rate", "48000", "--format", "pcm24", "--seconds", "1"});
  EXPECT_EQ(j["bit_exact"], true) << j.dump();
  ASSERT_TRUE(j.contains("capture"));
  EXPECT_EQ(j["capture"]["bit_exact"], true) << j.dump();
  ASSERT_TRUE(j["latency_frames"].is_number_integer()) << j.dump();
  EXPECT_GE(j["latency_frames"].get<int64_t>(), 37);
  const Outcome text = RunTool({"duplex", "--seconds", "0.5"});
  EXPECT_NE(text.out.find("round-trip latency  "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(" frames ("), std::string::npos) << text.out;
}

// The ASIO path: the machine installs the ASIO driver, a host streams through it, and the report
// adds what the driver said beside what the host measured.
TEST(StreamCommand, AsioDuplexReportsTheDriversLatenciesBesideTheMeasuredRoundTrip) {
  const Json j = RunJson({"duplex", "--path", "asio", "--seconds", "1"});
  ASSERT_FALSE(j.is_discarded());
  EXPECT_EQ(j["path"], "asio");
  EXPECT_EQ(j["format"], "int32lsb");
  EXPECT_EQ(j["bit_exact"], true) << j.dump();
  EXPECT_EQ(j["capture"]["bit_exact"], true) << j.dump();
  EXPECT_EQ(j["host"], "typical");
  EXPECT_EQ(j["host_failures"], Json::array());
  EXPECT_EQ(j["reset_requests"], 0);
  EXPECT_EQ(j["pool_allocations"], 0);
  // The profiled device at 48 kHz and 256 samples.
  EXPECT_EQ(j["buffer_size"], 256);
  EXPECT_EQ(j["asio_input_latency"], 328);
  EXPECT_EQ(j["asio_output_latency"], 489);
  // The host hears its output one buffer after the driver's two latencies and the cable.
  ASSERT_TRUE(j["latency_frames"].is_number_integer()) << j.dump();
  EXPECT_GE(j["latency_frames"].get<int64_t>(), 328 + 489 + 37);
  const Outcome text = RunTool({"duplex", "--path", "asio", "--seconds", "0.3"});
  EXPECT_NE(text.out.find("through the ASIO host (typical)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("ASIO latencies      input 328, output 489"), std::string::npos);
}

TEST(StreamCommand, AsioPlaysNativeDsdAndAnOsStreamRecordsBeside) {
  const Json dsd = RunJson({"play", "--path", "asio", "--format", "dsd", "--seconds", "0.5"});
  EXPECT_EQ(dsd["format"], "dsd");
  EXPECT_EQ(dsd["rate"], 2822400);
  EXPECT_EQ(dsd["bit_exact"], true) << dsd.dump();
  const Json both = RunJson({"play", "--path", "asio", "--also-os", "--seconds", "1"});
  EXPECT_EQ(both["bit_exact"], true) << both.dump();
  ASSERT_TRUE(both.contains("os")) << both.dump();
  EXPECT_EQ(both["os"]["direction"], "record");
  EXPECT_EQ(both["os"]["bit_exact"], true) << both.dump();
}

// A host asking for another size than the driver prefers is asked to reset, and opens again at
// the preferred size.
TEST(StreamCommand, AsioBufferSizeOtherThanPreferredEndsInAReset) {
  const Json j = RunJson({"play", "--path", "asio", "--buffer", "64", "--seconds", "0.5"});
  EXPECT_EQ(j["reset_requests"], 1);
  EXPECT_EQ(j["buffer_size"], 256);
  EXPECT_EQ(j["host_failures"], Json::array());
  const Json index = RunJson({"play", "--path", "asio", "--buffer-index", "0", "--seconds", "0.3"});
  EXPECT_EQ(index["buffer_size"], 4);
  EXPECT_EQ(index["reset_requests"], 0);
}

// A file in place of the signal: noise-like 24-bit stereo, so that any lost, repeated or
// misplaced sample shows.
class StreamFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::vector<uint32_t>> channels(2);
    uint32_t state = 12345;
    for (int f = 0; f < 24000; ++f) {
      for (auto& c : channels) {
        state = state * 1664525u + 1013904223u;
        c.push_back(state & 0xFFFFFF00u);
      }
    }
    std::string error;
    ASSERT_TRUE(WriteWav(in_, 48000, channels, 24, &error)) << error;
  }
  void TearDown() override {
    std::filesystem::remove(in_);
    std::filesystem::remove(out_);
  }
  std::string in_ = ScratchPath("-in.wav");
  std::string out_ = ScratchPath("-out.wav");
};

TEST_F(StreamFileTest, PlaysTheFileAndWritesWhatTheDeviceReceived) {
  const Json j = RunJson({"play", "--in", in_, "--out", out_, "--format", "pcm24"});
  EXPECT_EQ(j["bit_exact"], true) << j.dump();
  EXPECT_EQ(j["frames_sent"], 24000);
  EXPECT_TRUE(j["gaps"].is_null());
  // The written file holds the input, from the frame that arrived first to its end, after the
  // silence before the stream started.
  AudioFile in, out;
  std::string error;
  ASSERT_TRUE(ReadAudioFile(in_, &in, &error)) << error;
  ASSERT_TRUE(ReadAudioFile(out_, &out, &error)) << error;
  EXPECT_EQ(out.rate, 48000u);
  ASSERT_EQ(out.channels, 2u);
  auto first = std::find_if(out.samples.begin(), out.samples.end(), [](int32_t s) { return s; });
  ASSERT_NE(first, out.samples.end());
  const auto from = std::search(in.samples.begin(), in.samples.end(), first, first + 32);
  ASSERT_NE(from, in.samples.end());
  EXPECT_EQ((from - in.samples.begin()) % 2, 0) << "a frame's first sample";
  ASSERT_GE(out.samples.end() - first, in.samples.end() - from);
  EXPECT_TRUE(std::equal(from, in.samples.end(), first));
  EXPECT_EQ(j["frames_received"].get<int64_t>(), (in.samples.end() - from) / 2);
}

TEST_F(StreamFileTest, DuplexHearsTheFileBack) {
  const Json j = RunJson({"duplex", "--in", in_, "--format", "pcm24"});
  EXPECT_EQ(j["bit_exact"], true) << j.dump();
  EXPECT_EQ(j["capture"]["bit_exact"], true) << j.dump();
  EXPECT_GE(j["latency_frames"].get<int64_t>(), 37);
}

TEST_F(StreamFileTest, AFileThatDoesNotFitTheRequestIsRefused) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"play", "--in", in_, "--rate", "96000"},
        std::vector<std::string>{"play", "--in", in_, "--channels", "4"},
        std::vector<std::string>{"record", "--in", in_},
        std::vector<std::string>{"play", "--in", "/nonexistent.wav"}}) {
    const Outcome o = RunTool(args);
    EXPECT_EQ(o.exit, 2) << args.back();
    EXPECT_NE(o.err, "");
  }
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  const char* reason;
};

class StreamRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(StreamRefusalTest, ExitsWithTwoAndTheReason) {
  const Outcome o = RunTool(GetParam().args);
  EXPECT_EQ(o.exit, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_NE(o.err.find(GetParam().reason), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, StreamRefusalTest,
    ::testing::Values(
        RefusalCase{"RateTheDeviceLacks", {"play", "--rate", "22050"}, "22050 Hz"},
        RefusalCase{"MonoIsNeverOffered",
                    {"play", "--channels", "1"},
                    "on 1 channel: none of its data ranges matches"},
        RefusalCase{"RecordWithoutCapture",
                    {"record", "--device", "uac2-playback-only"},
                    "no capture pin"},
        RefusalCase{"UnknownFormat", {"play", "--format", "pcm8"}, "pcm8"},
        RefusalCase{"UnknownDevice", {"play", "--device", "no-such-device"}, "no-such-device"},
        RefusalCase{"AsioOptionOnTheOsPath", {"play", "--buffer", "256"},
                    "--buffer goes with --path asio"},
        RefusalCase{"DsdOnTheOsPath", {"play", "--format", "dsd"},
                    "--format dsd goes with --path asio"},
        RefusalCase{"EngineFormatOnTheAsioPath", {"play", "--path", "asio", "--format", "pcm16"},
                    "--format takes dsd only"},
        RefusalCase{"ChannelsOnTheAsioPath", {"play", "--path", "asio", "--channels", "2"},
                    "--channels goes with --path os"},
        RefusalCase{"FilesOnTheAsioPath", {"play", "--path", "asio", "--out", "x.wav"},
                    "--in and --out go with --path os"},
        RefusalCase{"TwoBufferSizes",
                    {"play", "--path", "asio", "--buffer", "256", "--buffer-index", "3"},
                    "excludes"},
        RefusalCase{"UnknownHost", {"play", "--path", "asio", "--host", "no-such-host"},
                    "no-such-host: neither a shipped host script nor a file"},
        RefusalCase{"AsioRecordWithoutInput",
                    {"record", "--path", "asio", "--device", "uac2-playback-only"},
                    "the device has no input"}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) { return param.param.name; });

}  // namespace
}  // namespace tarnlink::tool
