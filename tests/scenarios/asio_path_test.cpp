// Whole-system runs of the ASIO path: the machine installs the ASIO driver as the package does,
// an ASIO host finds it under the ASIO key and creates it through COM in its own process, and
// streams through it, the private channel, the stream engine and the bus. The device proves
// what it received and the host what it heard, sample by sample.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "asio_protocol.h"
#include "os_path_fixture.h"
#include "resource.h"
#include "settings/cpl_reg_util.h"
#include "sim/devices/catalogue.h"
#include "sim/asiohost/asio_host.h"
#include "sim/asiohost/driver_package.h"
#include "sim/machine/machine.h"
#include "sim/panel/control_panel_program.h"
#include "sim/panel/panel_user.h"

namespace tarnlink::scenarios::testing {
namespace {

using sim::asiohost::AsioHost;
using sim::asiohost::HostReport;
using sim::asiohost::HostScript;
using sim::asiohost::HostSettings;

class AsioPathTest : public OsPathTest {
 protected:
  void SetUp() override {
    OsPathTest::SetUp();
    Install();
  }
  void TearDown() override {
    if (host && !kernel().Stopped()) {
      EXPECT_TRUE(kernel().RunUntil([&] { return host->Finished(); }));
    }
    host.reset();
    OsPathTest::TearDown();
  }
  void Install() {
    ASSERT_EQ(machine->InstallAsioDriver(sim::asiohost::TarnlinkAsioModule()), S_OK);
  }
  // A fresh machine with both drivers installed, for the next case of a table.
  void RebootWithAsio() {
    host.reset();
    Reboot();
    Install();
  }
  void PlugLooped(std::string_view name = sim::devices::kDefaultDeviceName) {
    looped_ = true;
    Plug(name, [](sim::devices::DeviceBehaviour& b) { b.loopback = true; });
  }
  // A setting as the control panel writes it; a running driver is told at once.
  void SetSetting(int id, DWORD value) {
    ASSERT_TRUE(machine->RunInProcess("Tarnlink_cpl.exe", [id, value] {
      CCplRegUtil settings;
      settings.CreateDefaults();
      settings.WriteNumber(id, value);
    }));
  }
  void SetBufferIndex(DWORD index) { SetSetting(kSettingBufferSizeIndex, index); }

  static HostSettings Settings(double rate, double runMs = kProofMs) {
    HostSettings settings;
    settings.rate = rate;
    settings.runMs = runMs;
    return settings;
  }
  static HostScript Script(const std::string& nameOrText) {
    HostScript script;
    std::string error;
    if (sim::asiohost::LoadHostScript(nameOrText, &script, &error)) return script;
    script = {};
    EXPECT_TRUE(sim::asiohost::ParseHostScript(nameOrText, &script, &error)) << error;
    return script;
  }
  // Starts the host; its signal goes in the bits the device keeps (both ways, when looped).
  void StartHost(HostScript script, HostSettings settings) {
    settings.keptBits = [this](bool input) {
      if (looped_) {
        return std::min<unsigned>(DeviceLayout(kDirectionPlayback).bitResolution,
                                  DeviceLayout(kDirectionCapture).bitResolution);
      }
      return unsigned{DeviceLayout(input ? kDirectionCapture : kDirectionPlayback).bitResolution};
    };
    host = std::make_unique<AsioHost>(std::move(script), settings);
    host->Start(kernel());
    ASSERT_TRUE(kernel().RunUntil([&] { return host->Report().switches > 0 || host->Finished(); }));
  }
  void FinishHost() { ASSERT_TRUE(kernel().RunUntil([&] { return host->Finished(); })); }
  const HostReport& Report() const { return host->Report(); }

  // Every call gave what the script expected, the switches came in order, and every input of
  // the last opening heard the signal without a break.
  void ExpectHostClean() {
    const HostReport& report = Report();
    EXPECT_TRUE(report.failures.empty()) << report.failures.front();
    EXPECT_EQ(report.halfOrderErrors, 0u);
    EXPECT_EQ(report.positionErrors, 0u);
    EXPECT_EQ(report.missedPeriods, 0u);
    ASSERT_FALSE(report.segments.empty());
    for (const auto& seen : report.segments.back().inputs) {
      EXPECT_TRUE(seen.Clean()) << "input: first break at " << seen.firstBreak << ", gaps "
                                << seen.gaps << ", repeats " << seen.repeats;
      EXPECT_GT(seen.frames, 0u);
    }
  }

  std::unique_ptr<AsioHost> host;

 private:
  bool looped_ = false;
};

// The buffer sizes at the ends of the control panel's range, at the lowest and the highest
// rate of the default device: a simulated minute each, both ways, with the output looped back.
TEST_F(AsioPathTest, DuplexAtEveryEndOfTheBufferSizeRange) {
  const struct {
    double rate;
    DWORD index;
    LONG frames;
  } cases[] = {{48000, 0, 4}, {48000, 127, 512}, {768000, 0, 64}, {768000, 127, 8192}};
  bool first = true;
  for (const auto& c : cases) {
    if (!first) RebootWithAsio();
    first = false;
    SetBufferIndex(c.index);
    PlugLooped();
    StartHost(Script("typical"), Settings(c.rate));
    RunMs(kProofMs - 100);
    ExpectPlayedCleanSoFar();
    FinishHost();
    ExpectHostClean();
    EXPECT_EQ(Report().segments.back().bufferSize, c.frames) << c.rate << " " << c.index;
    EXPECT_EQ(Report().resetRequests, 0u);
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(machine->UnloadDriver()) << c.rate << " " << c.index;
  }
}

TEST_F(AsioPathTest, NativeDsdReachesTheDeviceWordForWord) {
  bool first = true;
  for (const double rate : {2822400.0, 11289600.0}) {
    if (!first) RebootWithAsio();
    first = false;
    Plug(sim::devices::kDefaultDeviceName);
    HostSettings settings = Settings(rate);
    settings.dsd = true;
    settings.openInputs = false;
    StartHost(Script("typical"), settings);
    RunMs(kProofMs - 100);
    ExpectPlayedCleanSoFar();
    FinishHost();
    ExpectHostClean();
    EXPECT_TRUE(Report().sampleType == ASIOSTDSDInt8LSB1 || Report().sampleType == ASIOSTDSDInt8MSB1)
        << Report().sampleType;
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(machine->UnloadDriver()) << rate;
  }
}

TEST_F(AsioPathTest, OutputOnlyOnAPlaybackOnlyDevice) {
  Plug("uac2-playback-only");
  StartHost(Script("typical"), Settings(48000));
  RunMs(kProofMs - 100);
  ExpectPlayedCleanSoFar();
  FinishHost();
  ExpectHostClean();
  EXPECT_EQ(Report().inputs, 0);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// The audio engine takes the direction the host leaves free on the same device.
TEST_F(AsioPathTest, TheOperatingSystemStreamsBesideTheHost) {
  for (const bool hostPlays : {true, false}) {
    if (!hostPlays) RebootWithAsio();
    // The ASIO driver opens the device at its stored rate: the operating system's stream
    // shares the device only at that rate.
    machine->PresetHardwareDword(u"SampleRate", 48000);
    SetSetting(kSettingSamplingRate, 48000);
    Plug(sim::devices::kDefaultDeviceName);
    OpenEngine();
    HostSettings settings = Settings(48000);
    settings.openInputs = !hostPlays;
    settings.openOutputs = hostPlays;
    if (hostPlays) {
      ASSERT_EQ(StartCapture({48000, 2, 32}), STATUS_SUCCESS);
    } else {
      ASSERT_EQ(StartRender({48000, 2, 32}), STATUS_SUCCESS);
    }
    StartHost(Script("typical"), settings);
    RunMs(kProofMs - 100);
    if (hostPlays) {
      ExpectPlayedCleanSoFar();
    } else {
      ExpectRenderClean();
    }
    FinishHost();
    ExpectHostClean();
    if (hostPlays) ExpectCaptureClean();
    CloseStreams();
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(machine->UnloadDriver()) << hostPlays;
  }
}

// The control panel changes the buffer size under a running host: the driver asks for a reset,
// the host opens its buffers again, and the new size is in force.
TEST_F(AsioPathTest, ABufferSizeChangeWhileRunningEndsInTheNewSize) {
  SetBufferIndex(63);
  PlugLooped();
  // A second at the old size, then the new one for as long as the other proofs stream.
  StartHost(Script("typical"), Settings(48000, 1000 + kProofMs));
  const LONG before = Report().segments.back().bufferSize;
  RunMs(1000);
  SetBufferIndex(10);
  FinishHost();
  ExpectHostClean();
  EXPECT_GE(Report().resetRequests, 1u);
  ASSERT_GE(Report().segments.size(), 2u);
  EXPECT_NE(Report().segments.back().bufferSize, before);
  EXPECT_EQ(Report().segments.back().bufferSize, Report().preferredSize);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// The user moves the buffer-size slider in the control panel while a host streams, the panel
// opened as a user opens it and through the host's controlPanel call: the driver asks the host
// for a reset, the host opens its buffers again at the size the panel shows, and from that
// opening on the device plays the host's signal bit for bit and without a gap, and the host
// hears it back the same way.
TEST_F(AsioPathTest, TheUserMovesTheBufferSizeSliderWhileAHostStreams) {
  const std::u16string panelPath(sim::machine::kControlPanelPath);
  const char* const panelFromHost =
      "load\ninit\nquery\ncreate-buffers\nstart\ncontrol-panel\nrun\nstop\ndispose\nrelease";
  const struct {
    bool throughHost;
    LRESULT index;  // where the user drags the slider (from 63: 256 samples)
    LONG frames;
    const char16_t* label;  // what the panel shows for it
    const char* picture;
  } cases[] = {
      {false, 31, 128, u"128 Samples", "host-streaming-by-user"},
      {true, 31, 128, u"128 Samples", "host-streaming-from-host"},
      {false, 10, 44, u"44 Samples", "host-streaming-44-samples"},
  };
  bool first = true;
  for (const auto& c : cases) {
    if (!first) RebootWithAsio();
    first = false;
    SetBufferIndex(63);
    PlugLooped();
    ASSERT_TRUE(machine->RunInProcess("setup.exe", [&] { RegisterControlPanelProgram(panelPath); }));
    StartHost(Script(c.throughHost ? panelFromHost : "typical"), Settings(48000, 4000));
    ASSERT_EQ(Report().segments.back().bufferSize, 256);
    RunMs(1000);
    std::u16string shown;
    ASSERT_TRUE(machine->RunInProcess("explorer.exe", [&] {
      std::unique_ptr<sim::panel::PanelUser> user =
          c.throughHost ? std::make_unique<sim::panel::PanelUser>(
                              sim::panel::PanelUser::OpenedElsewhere{})
                        : std::make_unique<sim::panel::PanelUser>(panelPath);
      ASSERT_TRUE(user->Started()) << c.picture;
      ASSERT_TRUE(user->Enabled(IDC_BUFFER_SLIDER)) << c.picture;
      user->DragSliderTo(c.index);
      shown = user->Text(IDC_BUFFER_SIZE);
      std::filesystem::create_directories("panel-artefacts");
      EXPECT_TRUE(user->Render(std::string("panel-artefacts/") + c.picture + ".png"));
    }));
    EXPECT_EQ(shown, c.label) << c.picture;
    // A second of the new opening, proved at the device while it plays: the sink started
    // again with the opening, and its first frame is one of the first buffer the host wrote
    // into it (at 44 samples the first few frames come too late for the transfers already
    // under way, and the driver drops them rather than play the stream late).
    RunMs(1000);
    ASSERT_GE(Report().segments.size(), 2u) << c.picture;
    EXPECT_EQ(Report().segments.back().bufferSize, c.frames) << c.picture;
    ExpectPlayedCleanSoFar();
    const uint64_t written = Report().segments.back().firstOutputFrame;
    for (unsigned channel = 0; channel < 2; ++channel) {
      const uint64_t played = Sink().Check(channel).firstFrame;
      EXPECT_GE(played, written) << c.picture << " channel " << channel;
      EXPECT_LT(played, written + static_cast<uint64_t>(c.frames)) << c.picture << " " << channel;
    }
    FinishHost();
    EXPECT_GE(Report().resetRequests, 1u) << c.picture;
    EXPECT_EQ(Report().segments.back().bufferSize, Report().preferredSize) << c.picture;
    ExpectHostClean();
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(machine->UnloadDriver()) << c.picture;
  }
}

TEST_F(AsioPathTest, ARateChangeWhileRunning) {
  PlugLooped();
  // Two seconds at 48 kHz, then 96 kHz for as long as the other proofs stream.
  StartHost(Script("load\ninit\nquery\ncreate-buffers\nstart\nrun 2000\n"
                   "set-rate 96000 expect ASE_OK\nrun\nstop\ndispose\nrelease"),
            Settings(48000));
  FinishHost();
  ExpectHostClean();
  EXPECT_EQ(Report().sampleRate, 96000);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// A transfer that fails on the bus interrupts the kernel's stream; the driver restarts it in
// place and the host never hears of it.
TEST_F(AsioPathTest, ATransferFailureIsRestartedWithoutTheHost) {
  PlugLooped();
  StartHost(Script("typical"), Settings(48000, 6000));
  RunMs(2000);
  for (ULONG code : {IOCTL_ASIO_FAIL_NEXT_CAPTURE, IOCTL_ASIO_FAIL_NEXT_PLAYBACK}) {
    HANDLE channel = nullptr;
    ASSERT_EQ(Open(AudioInterfaces()[0], u"\\asio", &channel), STATUS_SUCCESS);
    EXPECT_EQ(DeviceControl(channel, code, {}, 0), STATUS_SUCCESS);
    Close(channel);
    RunMs(500);
  }
  const uint64_t switches = Report().switches;
  RunMs(1000);
  // A second's switches, give or take the ones the restart took.
  const uint64_t perSecond = 48000 / static_cast<uint64_t>(Report().segments.back().bufferSize);
  EXPECT_GT(Report().switches, switches + perSecond * 9 / 10);
  FinishHost();
  EXPECT_TRUE(Report().failures.empty()) << Report().failures.front();
  EXPECT_EQ(Report().resetRequests, 0u);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// The device goes away under a running host: a reset request, no crash, nothing left behind.
TEST_F(AsioPathTest, SurpriseRemovalAsksTheHostForAReset) {
  PlugLooped();
  StartHost(Script("on-reset ignore\nload\ninit\nquery\ncreate-buffers\nstart\nrun 3000\n"
                   "stop expect 0\ndispose expect 0\nrelease"),
            Settings(48000));
  RunMs(1000);
  machine->SurpriseRemoveDevice();
  FinishHost();
  EXPECT_GE(Report().resetRequests, 1u);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// The system sleeps under a running host: idle buffer switches keep coming, and on waking the
// stream starts again and reaches the device.
TEST_F(AsioPathTest, SuspendAndResumeKeepTheHostSwitching) {
  PlugLooped();
  StartHost(Script("typical"), Settings(48000, 6000));
  RunMs(1000);
  ASSERT_EQ(machine->SuspendSystem(), STATUS_SUCCESS);
  const uint64_t asleep = Report().switches;
  RunMs(1000);
  EXPECT_GT(Report().switches, asleep + 50);  // idle switches from the driver's timer
  const uint64_t received = Sink().Counters().framesReceived;
  ASSERT_EQ(machine->ResumeSystem(), STATUS_SUCCESS);
  RunMs(1000);
  EXPECT_GT(Sink().Counters().framesReceived, received + 40000);
  FinishHost();
  EXPECT_TRUE(Report().failures.empty()) << Report().failures.front();
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// Every shipped host behaviour, on the default device with its output looped back, streaming as
// long as the other proofs.
TEST_F(AsioPathTest, EveryShippedHostScript) {
  bool first = true;
  for (const sim::asiohost::ShippedScript& shipped : sim::asiohost::ShippedScripts()) {
    if (!first) RebootWithAsio();
    first = false;
    PlugLooped();
    StartHost(Script(shipped.name), Settings(48000));
    FinishHost();
    ExpectHostClean();
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(machine->UnloadDriver()) << shipped.name;
  }
}

}  // namespace
}  // namespace tarnlink::scenarios::testing
