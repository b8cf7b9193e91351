// The operating system's audio path end to end: render and capture through the audio engine,
// the framework, the WaveRT miniport and stream, the stream engine and the bus.
#include <string>

#include "os_path_fixture.h"
#include "portcls/portcls_host.h"

namespace tarnlink::scenarios::testing {
namespace {

using sim::audioengine::WishedFormat;

// Each device and mode streams as long as the streaming proofs run; the rest of the rate and
// format matrix a second each.
constexpr uint64_t kMatrixMs = 1000;

struct RenderCase {
  const char* device;
  WishedFormat format;
  uint64_t ms;  // 0: as long as the streaming proofs run
};

void PrintTo(const RenderCase& c, std::ostream* os) {
  *os << c.device << " " << c.format.rate << " Hz " << c.format.bits << " bit";
}

class OsRenderTest : public OsPathTest, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(OsRenderTest, ReachesTheDeviceBitExactAndGapFree) {
  const RenderCase& c = GetParam();
  machine->PresetHardwareDword(u"SampleRate", c.format.rate);
  Plug(c.device);
  OpenEngine();
  ASSERT_EQ(StartRender(c.format), STATUS_SUCCESS);
  EXPECT_EQ(render->Format().rate, c.format.rate);
  EXPECT_EQ(render->Format().bits, c.format.bits);
  ExpectNoFifoFaults(RunStreaming(c.ms != 0 ? c.ms : kProofMs));
  ExpectRenderClean();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, OsRenderTest,
    ::testing::Values(RenderCase{"velmor-dac", {48000, 2, 24}, 0},
                      RenderCase{"velmor-dac", {44100, 2, 16}, kMatrixMs},
                      RenderCase{"velmor-dac", {96000, 2, 32}, kMatrixMs},
                      RenderCase{"velmor-dac", {192000, 2, 24}, kMatrixMs},
                      RenderCase{"velmor-dac", {384000, 2, 32}, kMatrixMs},
                      RenderCase{"velmor-dac", {768000, 2, 16}, kMatrixMs},
                      RenderCase{"uac1-speaker", {48000, 2, 16}, 0},
                      RenderCase{"uac2-implicit", {96000, 2, 24}, 0},
                      RenderCase{"uac2-playback-only", {48000, 2, 24}, 0}));

// The device sends 32-bit samples; a narrower pin holds their top bits.
TEST_F(OsPathTest, CaptureReachesTheEngineBitExact) {
  struct Case {
    WishedFormat format;
    uint64_t ms;
  };
  for (const Case& c : {Case{{48000, 2, 24}, kProofMs}, Case{{44100, 2, 16}, kMatrixMs},
                        Case{{96000, 2, 32}, kMatrixMs}, Case{{192000, 2, 16}, kMatrixMs},
                        Case{{384000, 2, 24}, kMatrixMs}, Case{{768000, 2, 32}, kMatrixMs}}) {
    const WishedFormat& format = c.format;
    SCOPED_TRACE(format.rate);
    machine->PresetHardwareDword(u"SampleRate", format.rate);
    Plug("velmor-dac");
    OpenEngine();
    ASSERT_EQ(StartCapture(format), STATUS_SUCCESS);
    EXPECT_EQ(capture->Format().bits, format.bits);
    RunMs(c.ms);
    ExpectCaptureClean();
    CloseStreams();
    reader = sim::audioengine::SignalReader();
    ASSERT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
}

TEST_F(OsPathTest, RenderAndCaptureRunAtOnce) {
  machine->PresetHardwareDword(u"SampleRate", 96000);
  Plug("velmor-dac");
  OpenEngine();
  ASSERT_EQ(StartRender({96000, 2, 24}), STATUS_SUCCESS);
  ASSERT_EQ(StartCapture({96000, 2, 32}), STATUS_SUCCESS);
  ExpectNoFifoFaults(RunStreaming(kProofMs));
  ExpectRenderClean();
  ExpectCaptureClean();
}

TEST_F(OsPathTest, PauseAndResumeContinueWhereTheStreamStopped) {
  machine->PresetHardwareDword(u"SampleRate", 48000);
  Plug("velmor-dac");
  OpenEngine();
  ASSERT_EQ(StartRender({48000, 2, 24}), STATUS_SUCCESS);
  RunMs(500);
  InKernel([&] { ASSERT_EQ(render->Pause(), STATUS_SUCCESS); });
  RunMs(300);
  const uint64_t pausedAt = writer.Frames();
  RunMs(300);
  EXPECT_EQ(writer.Frames(), pausedAt) << "a paused stream asks for nothing";
  InKernel([&] { ASSERT_EQ(render->Resume(), STATUS_SUCCESS); });
  RunMs(kProofMs);
  EXPECT_GT(writer.Frames(), pausedAt + 48 * (kProofMs - 100));
  // The device heard silence while paused; around it the signal runs on without a gap. (A
  // lone zero is the signal's own: channel 0's code as the frame count wraps.)
  const auto layout = sim::audioengine::SeenLayout(writer.ValidBits(), render->Format(), DeviceLayout(kDirectionPlayback));
  for (unsigned channel = 0; channel < 2; ++channel) {
    const std::vector<uint32_t>& words = Sink().Samples(channel);
    std::vector<uint32_t> heard;
    for (size_t i = 0; i < words.size(); ++i) {
      const bool silence = words[i] == 0 && ((i > 0 && words[i - 1] == 0) ||
                                             (i + 1 < words.size() && words[i + 1] == 0));
      if (!silence) heard.push_back(words[i]);
    }
    const auto seen = sim::devices::CheckContinuity(heard, channel, layout);
    EXPECT_TRUE(seen.Clean()) << "channel " << channel << " breaks at " << seen.firstBreak;
    EXPECT_EQ(seen.firstFrame, 0u) << "channel " << channel;
  }
  ExpectNoFifoFaults(Sink().Counters());
}

TEST_F(OsPathTest, AFixedRateChangeTearsTheStreamDownAndTheNewSubdevicePlays) {
  machine->PresetHardwareDword(u"SampleRate", 48000);
  Plug("velmor-dac");
  OpenEngine();
  ASSERT_EQ(StartRender({48000, 2, 24}), STATUS_SUCCESS);
  RunMs(500);
  InKernel([&] { ASSERT_EQ(Adapter()->SetFixedRate(96000), STATUS_SUCCESS); });
  RunMs(100);
  // The old pin stays open for its client but the device no longer takes from it.
  const uint64_t stalled = writer.Frames();
  RunMs(200);
  EXPECT_EQ(writer.Frames(), stalled);
  EXPECT_GT(render->Counters().glitches, 0u);
  CloseStreams();

  const auto subdevices = portcls::Subdevices(machine->FunctionDevice());
  ASSERT_EQ(subdevices.size(), 1u);
  EXPECT_EQ(subdevices[0].name, u"{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}_96000");
  writer = sim::audioengine::SignalWriter();
  OpenEngine();
  // The new filter offers the new rate only.
  EXPECT_EQ(StartRender({48000, 2, 24}), STATUS_NO_MATCH);
  ASSERT_EQ(StartRender({96000, 2, 24}), STATUS_SUCCESS);
  // The old stream's end ran the device's FIFO dry; once the new one has settled, it never may.
  RunMs(500);
  const auto before = Sink().Counters();
  const auto after = RunStreaming(kProofMs);
  EXPECT_EQ(after.underruns, before.underruns);
  EXPECT_EQ(after.overruns, before.overruns);
  EXPECT_GT(writer.Frames(), 96 * (kProofMs - 100));
  ExpectRenderClean();
}

TEST_F(OsPathTest, SurpriseRemovalWhileRenderingEndsTheStreamCleanly) {
  machine->PresetHardwareDword(u"SampleRate", 48000);
  Plug("velmor-dac");
  OpenEngine();
  ASSERT_EQ(StartRender({48000, 2, 24}), STATUS_SUCCESS);
  ExpectNoFifoFaults(RunStreaming(kProofMs));
  ExpectRenderClean();
  machine->SurpriseRemoveDevice();
  RunMs(500);
  const uint64_t stalled = writer.Frames();
  RunMs(200);
  EXPECT_EQ(writer.Frames(), stalled);
  // The engine closes what it holds; the removal then completes and nothing is left behind.
  CloseStreams();
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
}  // namespace tarnlink::scenarios::testing
