// Claims, formats and the opening and closing of directions on the simulated machine.
#include "stream_fixture.h"

namespace tarnlink::engine::testing {
namespace {

TEST_F(StreamTest, ClaimsStackOnlyWhereTheDeviceCanMixAndDsdTakesItAll) {
  struct Step {
    bool capture, playback, exclusive;
    NTSTATUS expected;
  };
  struct Case {
    std::string_view device;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"velmor-dac",
       {{true, true, false, STATUS_SUCCESS},
        {true, true, false, STATUS_SUCCESS},
        {false, true, true, STATUS_DEVICE_BUSY}}},
      {"uac2-playback-only",
       {{false, true, false, STATUS_SUCCESS},
        {false, true, false, STATUS_DEVICE_BUSY},
        {false, true, true, STATUS_DEVICE_BUSY}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    Plug(c.device);
    InKernel([&] {
      IUsbAudioAdapter* adapter = Adapter();
      for (const Step& s : c.steps) {
        EXPECT_EQ(adapter->ClaimDirections(s.capture, s.playback, s.exclusive), s.expected);
      }
      // Released, an exclusive claim succeeds and then refuses everyone.
      adapter->ReleaseDirections(TRUE, TRUE);
      adapter->ReleaseDirections(TRUE, TRUE);
      EXPECT_EQ(adapter->ClaimDirections(FALSE, TRUE, TRUE), STATUS_SUCCESS);
      EXPECT_EQ(adapter->ClaimDirections(TRUE, FALSE, FALSE), STATUS_DEVICE_BUSY);
      adapter->ReleaseDirections(FALSE, TRUE);
      EXPECT_EQ(Engine().Claims().PlaybackUsers(), 0u);
      EXPECT_EQ(Engine().Claims().Exclusive(), 0u);
    });
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, OsFormatsFollowTheFixedRateOnlyWhereBothDirectionsShareIt) {
  Plug("velmor-dac");
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    const ULONG fixed = Engine().FixedRate();
    EXPECT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 16, 96000), STATUS_NO_MATCH);
    EXPECT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 8, fixed), STATUS_NO_MATCH);
    EXPECT_EQ(adapter->SetOsFormat(kDirectionPlayback, 6, 2, 16, fixed), STATUS_NO_MATCH);
    EXPECT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 16, fixed), STATUS_SUCCESS);
    EXPECT_EQ(Engine().OsFormatOf(kDirectionPlayback).FrameBytes, 4u);
    // Configured at once: the playback interface carries a format now.
    EXPECT_NE(Adapter()->Model().GetCurrentAltSetting(kDirectionPlayback), 0u);
    adapter->ClearOsFormat(kDirectionPlayback);
    EXPECT_EQ(Adapter()->Model().GetCurrentAltSetting(kDirectionPlayback), 0u);
  });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);

  Plug("uac2-playback-only");
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    EXPECT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 24, 96000), STATUS_SUCCESS);
    EXPECT_EQ(Engine().AsioRate(), 96000u) << "the free rate";
    adapter->ClearOsFormat(kDirectionPlayback);
    EXPECT_EQ(Engine().AsioRate(), 0u);
    // While an ASIO client is active, the OS stream follows the fixed rate here too.
    Engine().SetAsioActive(1);
    EXPECT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 24, 96000), STATUS_NO_MATCH);
  });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, OpensAreCountedAndTheLastCloseStopsTheWorkers) {
  Plug("velmor-dac");
  InKernel([&] {
    CStreamEngine& engine = Engine();
    ASSERT_EQ(engine.OpenDirection(kDirectionPlayback), STATUS_SUCCESS);
    // Both directions of a two-direction device come up together.
    EXPECT_TRUE(engine.WorkerRunning(kDirectionPlayback));
    EXPECT_TRUE(engine.WorkerRunning(kDirectionCapture));
    ASSERT_EQ(engine.OpenDirection(kDirectionPlayback), STATUS_SUCCESS);
    EXPECT_EQ(engine.OpenCount(kDirectionPlayback), 2u);
    EXPECT_EQ(engine.CloseDirection(kDirectionPlayback), STATUS_SUCCESS);
    EXPECT_TRUE(engine.WorkerRunning(kDirectionPlayback));
    EXPECT_EQ(engine.CloseDirection(kDirectionPlayback), STATUS_SUCCESS);
    EXPECT_FALSE(engine.WorkerRunning(kDirectionPlayback));
    EXPECT_FALSE(engine.WorkerRunning(kDirectionCapture));
    EXPECT_EQ(Adapter()->Model().GetCurrentAltSetting(kDirectionPlayback), 0u);
    // A close too many is only noted.
    EXPECT_EQ(engine.CloseDirection(kDirectionPlayback), STATUS_SUCCESS);
  });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// A worker restarting its pipeline holds the open gate with 2; an open that comes meanwhile
// polls and leaves the gate to it. With implicit feedback the restart sizes its transfers from
// capture under the gate, long enough to watch.
TEST_F(StreamTest, AnOpenWaitsWhileARecoveryHoldsTheGate) {
  Plug("uac2-implicit");
  StartPlayback({StreamUser::Os}, false);
  RunMs(200);
  InKernel([&] { Engine().FailNextPlayback(); });
  const auto recovering = [&] { return Engine().OpenGateHolder() == COpenGate::kRecovery; };
  ASSERT_TRUE(kernel().RunUntil(recovering));
  NTSTATUS status = STATUS_PENDING;
  uint64_t openedAt = 0;
  PKTHREAD opener = kernel().StartThread(
      [&] {
        status = Engine().OpenDirection(kDirectionPlayback);
        openedAt = Now();
      },
      "opener");
  ASSERT_TRUE(kernel().RunPending());
  EXPECT_TRUE(recovering()) << "the opener took the gate from the recovery";
  EXPECT_EQ(status, STATUS_PENDING);
  ASSERT_TRUE(kernel().RunUntil([&] { return !recovering(); }));
  const uint64_t releasedAt = Now();
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({opener}));
  EXPECT_EQ(status, STATUS_SUCCESS);
  EXPECT_GE(openedAt, releasedAt);
  EXPECT_EQ(Engine().OpenCount(kDirectionCapture), 2u);
  EXPECT_EQ(Engine().Recoveries(kDirectionPlayback), 1u);
  InKernel([&] { EXPECT_EQ(Engine().CloseDirection(kDirectionPlayback), STATUS_SUCCESS); });
  StopStreams();
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, AClockThatNeverSettlesFailsTheOpenAfterAHundredMilliseconds) {
  // The rate changes at start, and the clock reads invalid for a minute after.
  machine->PresetHardwareDword(u"SampleRate", 48000);
  Plug("velmor-dac", [](sim::devices::DeviceBehaviour& b) { b.validityLagUs = 60u * 1000 * 1000; });
  InKernel([&] {
    const uint64_t before = Now();
    EXPECT_EQ(Engine().OpenDirection(kDirectionPlayback), STATUS_UNSUCCESSFUL);
    EXPECT_GE(Now() - before, 100 * kMs);
    EXPECT_FALSE(Engine().WorkerRunning(kDirectionPlayback));
    EXPECT_EQ(Engine().OpenCount(kDirectionPlayback), 0u);
  });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, SurpriseRemovalMidStreamEndsTheWorkersAndLaterOpensFail) {
  Plug("velmor-dac");
  InKernel([&] { ASSERT_EQ(Engine().OpenDirection(kDirectionCapture), STATUS_SUCCESS); });
  RunMs(200);
  machine->SurpriseRemoveDevice();
  RunMs(200);
  InKernel([&] {
    CStreamEngine& engine = Engine();
    EXPECT_TRUE(engine.DeviceGone());
    EXPECT_EQ(engine.CloseDirection(kDirectionCapture), STATUS_SUCCESS);
    EXPECT_FALSE(engine.WorkerRunning(kDirectionCapture));
    EXPECT_EQ(engine.OpenDirection(kDirectionCapture), STATUS_DELETE_PENDING);
    EXPECT_EQ(Adapter()->SetOsFormat(kDirectionPlayback, 1, 2, 16, engine.FixedRate()),
              STATUS_DELETE_PENDING);
  });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
}  // namespace tarnlink::engine::testing
