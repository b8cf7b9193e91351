// The ASIO host against a small loopback driver: found and created through the registry and
// COM in its own process, driven by each shipped script, with its signal checked end to end.
#include <gtest/gtest.h>

#include <algorithm>

#include "loopback_asio_driver.h"
#include "sim/asiohost/asio_host.h"
#include "sim/asiohost/driver_list.h"
#include "support/kernel_test.h"

namespace sim::asiohost::testing {
namespace {

class AsioHostTest : public tarnlink::kernel::testing::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    machine = std::make_unique<machine::Machine>(kernel(), nullptr);
    ASSERT_EQ(machine->InstallAsioDriver(LoopbackModule()), S_OK);
  }
  void TearDown() override {
    machine.reset();
    KernelTest::TearDown();
  }

  // Runs the script to its end; resetAtMs > 0 asks for a reset that far into the run.
  HostReport Run(const HostScript& script, double resetAtMs = 0) {
    HostSettings settings;
    settings.runMs = 200;
    AsioHost host(script, settings);
    const int before = LoopbackObjectsAlive();
    PKTHREAD thread = host.Start(kernel());
    if (resetAtMs > 0) {
      EXPECT_TRUE(kernel().RunUntil([&] { return host.Report().switches > 0; }));
      EXPECT_TRUE(kernel().RunFor(static_cast<uint64_t>(resetAtMs * kMs)));
      RequestLoopbackReset();
    }
    EXPECT_TRUE(kernel().RunUntilThreadsEnd({thread}));
    EXPECT_TRUE(host.Finished());
    EXPECT_EQ(LoopbackObjectsAlive(), before) << script.name << ": a driver object was left";
    return host.Report();
  }

  std::unique_ptr<machine::Machine> machine;
};

HostScript Parse(const std::string& text) {
  HostScript script;
  std::string error;
  EXPECT_TRUE(ParseHostScript(text, &script, &error)) << error;
  return script;
}

// Every opening checked its inputs; the last (after any dummy one) opened all of them.
void ExpectCleanInputs(const HostReport& report, const std::string& name) {
  ASSERT_FALSE(report.segments.empty()) << name;
  EXPECT_EQ(report.segments.back().inputs.size(), static_cast<size_t>(kLoopbackChannels)) << name;
  for (const BufferSegment& segment : report.segments) {
    for (size_t k = 0; k < segment.inputs.size(); ++k) {
      const devices::Continuity& seen = segment.inputs[k];
      EXPECT_TRUE(seen.Clean()) << name << ": first break at " << seen.firstBreak;
      EXPECT_GT(seen.frames, 0u) << name;
      // The loop hands each output half back one buffer later.
      EXPECT_EQ(seen.leadingSilence + segment.firstOutputFrame - segment.firstInputFrames[k],
                static_cast<uint64_t>(kLoopbackBufferSize))
          << name;
    }
  }
}

TEST(HostScriptTest, ScriptsParseOrSayWhichLineIsWrong) {
  const struct {
    const char* text;
    const char* error;  // empty: parses
  } cases[] = {
      {"# only a comment\n\nload # and a trailing one\n", ""},
      {"answer engine-version 1\nanswer time-info no\ncalls-output-ready no\non-reset ignore\nload",
       ""},
      {"load\nset-rate 44100 expect ASE_NoClock\nrun 20\nwait-switches 3\nrelease expect 0", ""},
      {"load\ninit\ncontrol-panel\nrelease", ""},
      {"control-panel now", "control-panel takes no argument"},
      {"", "the script has no steps"},
      {"load\nfly", "line 2: unknown step fly"},
      {"answer colour blue", "line 1: answer engine-version or time-info, not colour"},
      {"answer time-info maybe", "time-info takes yes or no"},
      {"on-reset panic", "on-reset takes reopen, recreate or ignore"},
      {"start expect ASE_Sometimes", "expect takes a result code or a number"},
      {"create-buffers all", "create-buffers takes nothing or dummy"},
      {"set-rate", "set-rate takes current or a rate in Hz"},
      {"wait-switches 0", "wait-switches takes a count"},
      {"run -5", "run takes nothing or milliseconds"},
      {"stop now", "stop takes no argument"},
  };
  for (const auto& c : cases) {
    HostScript script;
    std::string error;
    EXPECT_EQ(ParseHostScript(c.text, &script, &error), c.error[0] == 0) << c.text;
    if (c.error[0] != 0) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
  const HostScript script = Parse("load\nset-rate 44100 expect ASE_NoClock\nrelease expect 0");
  ASSERT_EQ(script.steps.size(), 3u);
  EXPECT_EQ(script.steps[1].kind, HostStep::Kind::SetRate);
  EXPECT_EQ(script.steps[1].number, 44100);
  EXPECT_EQ(script.steps[1].expected, ASE_NoClock);
  EXPECT_EQ(script.steps[1].line, 2);
  HostScript missing;
  std::string error;
  EXPECT_FALSE(LoadHostScript("no-such-host", &missing, &error));
  EXPECT_EQ(error, "no-such-host: neither a shipped host script nor a file that can be read");
}

using InstallTest = tarnlink::kernel::testing::KernelTest;

TEST_F(InstallTest, TheInstallerReturnsWhatRegistrationGave) {
  machine::Machine machine(kernel(), nullptr);
  // A module without the registration export: regsvr32 finds nothing to call.
  EXPECT_EQ(machine.InstallAsioDriver({u"", nullptr, {}}), E_UNEXPECTED);
}

TEST_F(AsioHostTest, TheInstalledDriverIsListedUnderTheAsioKey) {
  RunAsUser([] {
    const std::vector<AsioDriverEntry> drivers = ListAsioDrivers();
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0].name, kLoopbackName);
    EXPECT_EQ(drivers[0].description, kLoopbackName);
  });
}

// Every shipped host behaviour runs to its end with its own signal looped back intact.
TEST_F(AsioHostTest, EveryShippedScriptRunsCleanly) {
  for (const ShippedScript& shipped : ShippedScripts()) {
    HostScript script;
    std::string error;
    ASSERT_TRUE(LoadHostScript(shipped.name, &script, &error)) << error;
    const HostReport report = Run(script);
    EXPECT_TRUE(report.failures.empty()) << script.name << ": " << report.failures[0];
    EXPECT_GT(report.switches, 0u) << script.name;
    EXPECT_EQ(report.halfOrderErrors, 0u) << script.name;
    EXPECT_EQ(report.positionErrors, 0u) << script.name;
    EXPECT_EQ(report.timeInfoSwitches, script.timeInfo ? report.switches : 0u) << script.name;
    ExpectCleanInputs(report, script.name);
    if (script.name == "enumerate") {
      EXPECT_EQ(report.enumerated, std::vector<std::string>{"Loopback Test Driver"});
    }
  }
  EXPECT_FALSE(ShippedScripts().empty());
}

TEST_F(AsioHostTest, AResetRequestIsServedAsTheScriptSays) {
  const struct {
    const char* reaction;
    int objects;   // driver objects the run creates
    size_t openings;  // of the buffers
  } cases[] = {{"reopen", 1, 2}, {"recreate", 2, 2}, {"ignore", 1, 1}};
  for (const auto& c : cases) {
    const int created = LoopbackObjectsCreated();
    const HostReport report = Run(
        Parse(std::string("on-reset ") + c.reaction +
              "\nload\ninit\ncreate-buffers\nstart\nrun 100\nstop\ndispose\nrelease"),
        50);
    EXPECT_TRUE(report.failures.empty()) << c.reaction << ": " << report.failures[0];
    EXPECT_EQ(report.resetRequests, 1u) << c.reaction;
    EXPECT_EQ(LoopbackObjectsCreated() - created, c.objects) << c.reaction;
    EXPECT_EQ(report.segments.size(), c.openings) << c.reaction;
    ExpectCleanInputs(report, c.reaction);
  }
}

// The user opens the driver's settings from the host, streams, and quits the application: the
// runs end at once and the script closes as it says.
TEST_F(AsioHostTest, AHostToldToQuitEndsItsRunsAndCloses) {
  HostSettings settings;
  settings.runMs = 3600e3;
  AsioHost host(Parse("load\ninit\ncontrol-panel\ncreate-buffers\nstart\nrun\nrun\nstop\n"
                      "dispose\nrelease"),
                settings);
  PKTHREAD thread = host.Start(kernel());
  ASSERT_TRUE(kernel().RunUntil([&] { return host.Report().switches > 0; }));
  ASSERT_TRUE(kernel().RunFor(100 * kMs));
  RunAsUser([&] { host.Quit(); });
  const uint64_t switches = host.Report().switches;
  EXPECT_TRUE(kernel().RunUntilThreadsEnd({thread}));
  EXPECT_TRUE(host.Report().failures.empty()) << host.Report().failures[0];
  EXPECT_NE(std::find(host.Report().log.begin(), host.Report().log.end(),
                      "line 3: control-panel ASE_OK"),
            host.Report().log.end());
  // Closed at once, not an hour of buffer switches later.
  EXPECT_LT(host.Report().switches, switches + 100);
  ExpectCleanInputs(host.Report(), "quit");
}

TEST_F(AsioHostTest, AResultOtherThanTheExpectedOneIsAFailureWithItsLine) {
  const HostReport report =
      Run(Parse("load\ninit\nstart expect ASE_OK\nset-rate 44100 expect ASE_OK\nrelease"));
  ASSERT_EQ(report.failures.size(), 2u);
  EXPECT_EQ(report.failures[0], "line 3: start gave ASE_NotPresent, not ASE_OK");
  EXPECT_EQ(report.failures[1], "line 4: set-rate gave ASE_NoClock, not ASE_OK");
}

}  // namespace
}  // namespace sim::asiohost::testing
