// `tarnlink info` runs the whole device start: what the adapter decided from the device, the
// values preset in its hardware key and the host controller, in JSON and in text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_tool.h"

namespace tarnlink::tool {
namespace {

constexpr const char* kName = "{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}";

// The report's "adapter" object, as printed (the notes follow it).
std::string AdapterJson(std::vector<std::string> args) {
  args.insert(args.begin(), "info");
  args.push_back("--json");
  const Outcome o = RunTool(args);
  EXPECT_EQ(o.exit, 0) << o.err;
  const size_t at = o.out.find(R"j("adapter":{)j");
  if (at == std::string::npos) return "no adapter object in " + o.out;
  return o.out.substr(at, o.out.find(R"j(,"notes":)j", at) - at);
}

std::string Expected(const char* fixedRate, const char* nativeDsd, const char* playbackOnly,
                     const char* amd, const char* transfers, const std::string& reference) {
  return std::string(R"j("adapter":{"fixed_rate":)j") + fixedRate + R"j(,"native_dsd":)j" +
         nativeDsd + R"j(,"playback_only":)j" + playbackOnly + R"j(,"amd_workaround":)j" + amd +
         "," + transfers + R"j(,"reference_string":")j" + reference + "\"}";
}

constexpr const char* kPlainTransfers =
    R"j("playback_transfer_ms":1,"capture_transfer_ms":1,"playback_transfers_in_flight":8)j";
constexpr const char* kAmdTransfers =
    R"j("playback_transfer_ms":2,"capture_transfer_ms":1,"playback_transfers_in_flight":3)j";

struct AdapterCase {
  const char* name;
  std::vector<std::string> args;
  std::string adapter;
};

void PrintTo(const AdapterCase& c, std::ostream* os) {
  *os << c.name;
}

class AdapterReportTest : public ::testing::TestWithParam<AdapterCase> {};

TEST_P(AdapterReportTest, ShowsWhatTheAdapterDecided) {
  EXPECT_EQ(AdapterJson(GetParam().args), GetParam().adapter);
}

const std::string kProbedDsd = R"j(true,"native_dsd_source":"probe")j";
const std::string kNoDsdProbed = R"j(false,"native_dsd_source":"probe")j";

INSTANTIATE_TEST_SUITE_P(
    Start, AdapterReportTest,
    ::testing::Values(
        // A fresh device: 44100 Hz is the fixed rate and names the subdevice.
        AdapterCase{"FreshDevice", {},
                    Expected("44100", kProbedDsd.c_str(), "false", "false", kPlainTransfers,
                             std::string(kName) + "_44100")},
        AdapterCase{"PresetRateAndDsd",
                    {"--registry", "SampleRate=96000", "--registry", "DSDNativeModeSupported=0"},
                    Expected("96000", R"j(false,"native_dsd_source":"registry")j", "false",
                             "false", kPlainTransfers, std::string(kName) + "_96000")},
        // The headset runs 44.1 and 48 kHz: its lowest rate instead.
        AdapterCase{"RateTheDeviceLacks",
                    {"--device", "uac1-headset", "--registry", "SampleRate=96000"},
                    Expected("44100", kNoDsdProbed.c_str(), "false", "false", kPlainTransfers,
                             std::string(kName) + "_44100")},
        AdapterCase{"RateTheDeviceHas",
                    {"--device", "uac1-headset", "--registry", "SampleRate=48000"},
                    Expected("48000", kNoDsdProbed.c_str(), "false", "false", kPlainTransfers,
                             std::string(kName) + "_48000")},
        // Free-rate mode names the subdevice without a rate; playback transfers stay short.
        AdapterCase{"PlaybackOnly", {"--device", "uac2-playback-only"},
                    Expected("0", kNoDsdProbed.c_str(), "true", "false", kPlainTransfers, kName)},
        AdapterCase{"AmdOhci", {"--controller", "amd-ohci"},
                    Expected("44100", kProbedDsd.c_str(), "false", "true", kAmdTransfers,
                             std::string(kName) + "_44100")},
        AdapterCase{"Ati", {"--controller", "ati"},
                    Expected("44100", kProbedDsd.c_str(), "false", "true", kAmdTransfers,
                             std::string(kName) + "_44100")},
        AdapterCase{"Generic", {"--controller", "generic"},
                    Expected("44100", kProbedDsd.c_str(), "false", "false", kPlainTransfers,
                             std::string(kName) + "_44100")},
        AdapterCase{"Forced", {"--registry", "ForceAMDChipset=0x1"},
                    Expected("44100", kProbedDsd.c_str(), "false", "true", kAmdTransfers,
                             std::string(kName) + "_44100")},
        // The workaround is for devices that stream both ways.
        AdapterCase{"AtiWithoutCapture", {"--device", "uac2-playback-only", "--controller", "ati"},
                    Expected("0", kNoDsdProbed.c_str(), "true", "false", kPlainTransfers,
                             kName)}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(AdapterReportText, EndsWithTheAdapterAndNotesUnreadValues) {
  const Outcome o = RunTool({"info", "--registry", "SampleRates=96000", "--controller", "ati"});
  EXPECT_EQ(o.exit, 0) << o.err;
  const std::string expected = std::string(
                                   "adapter:\n"
                                   "  fixed rate 44100 Hz\n"
                                   "  native DSD: yes (probed with the request to play PCM)\n"
                                   "  playback only: no; AMD workaround: yes\n"
                                   "  transfers: playback 2 ms, 3 in flight; capture 1 ms\n"
                                   "  subdevice reference string: ") +
                               kName + "_44100\n";
  ASSERT_GE(o.out.size(), expected.size());
  EXPECT_EQ(o.out.substr(o.out.size() - expected.size()), expected);
  // A misspelt value is not read: the note says so, and names the ones that are.
  EXPECT_EQ(o.out.rfind("note: the driver reads no hardware key value named SampleRates (it "
                        "reads ForceAMDChipset, DSDNativeModeSupported, gDumpCapture, "
                        "SampleRate)\n",
                        0),
            0u)
      << o.out;
  // Registry names are not case-sensitive.
  EXPECT_EQ(RunTool({"info", "--registry", "samplerate=96000"}).out.find("note:"),
            std::string::npos);
}

}  // namespace
}  // namespace tarnlink::tool
