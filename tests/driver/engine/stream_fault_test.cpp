// Faults on a running stream, each recovered (or ended) with the audio in order afterwards and
// nothing left behind at unload.
#include <memory>
#include <span>

#include "sim/devices/catalogue.h"
#include "sim/devices/forwarding_device.h"
#include "stream_fixture.h"

namespace tarnlink::engine::testing {
namespace {

class StreamFaultTest : public StreamTest {
 protected:
  // Duplex on the default device: position signal out, two feeds in.
  void StartDuplex(std::string_view device = "velmor-dac") {
    Plug(device);
    StartCapture({StreamUser::Os});
    StartPlayback({StreamUser::Os}, false);
    RunMs(500);
  }
  void Unplug() {
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(machine->UnloadDriver());
  }
};

TEST_F(StreamFaultTest, OneFailedPlaybackCompletionRecoversOnce) {
  // Paced by explicit feedback, and by capture (the recovery sizes its transfers anew).
  for (std::string_view device : {"velmor-dac", "uac2-implicit"}) {
    SCOPED_TRACE(device);
    StartDuplex(device);
    InKernel([&] { Engine().FailNextPlayback(); });
    RunMs(500);
    const uint64_t before = Sink().Counters().framesReceived;
    RunMs(500);
    EXPECT_EQ(Engine().Recoveries(kDirectionPlayback), 1u);
    EXPECT_EQ(Engine().Recoveries(kDirectionCapture), 0u);
    EXPECT_GT(Sink().Counters().framesReceived, before + 20000) << "playing again";
    StopStreams();
    ExpectPlaybackInOrder(Sink(), sources[1]->Layout());
    ExpectCaptureClean(StreamUser::Os);
    Unplug();
    Reboot();
  }
}

TEST_F(StreamFaultTest, OneFailedCaptureCompletionRecoversOnceAndReportsTheGap) {
  StartDuplex();
  InKernel([&] { Engine().FailNextCapture(); });
  RunMs(1000);
  EXPECT_EQ(Engine().Recoveries(kDirectionCapture), 1u);
  // The failed transfer and those the recovery aborted each tell the sink of the hole.
  EXPECT_GE(sinks[1]->EmptyDeliveries(), 1u);
  const auto& samples = sinks[1]->Samples(0);
  const auto seen = sim::devices::CheckContinuity(samples, 0, captureLayout);
  EXPECT_EQ(seen.repeats, 0u);
  EXPECT_GT(seen.frames, 40000u);
  StopStreams();
  Unplug();
}

enum class BusFault {
  LostTime,
  Stall,
  DroppedOut,
  ShortIn,
  ShortPlaybackTransfer,
  ZeroFeedback,
  WildFeedback
};

TEST_F(StreamFaultTest, BusFaultsAreRecoveredAndTheStreamGoesOn) {
  for (BusFault fault : {BusFault::LostTime, BusFault::Stall, BusFault::DroppedOut,
                         BusFault::ShortIn, BusFault::ShortPlaybackTransfer,
                         BusFault::ZeroFeedback, BusFault::WildFeedback}) {
    SCOPED_TRACE(static_cast<int>(fault));
    StartDuplex();
    sim::usb::BusFaults& faults = Faults();
    const uint64_t tick = uint64_t{machine->Controller()->CurrentFrame()} * 8;
    switch (fault) {
      case BusFault::LostTime:
        faults.lostTime.push_back({tick + 16, tick + 16 + 8 * 20});
        break;
      case BusFault::Stall:
        faults.stalledEndpoints.insert(Endpoint(kDirectionPlayback));
        break;
      case BusFault::DroppedOut:
        faults.dropEveryNth[Endpoint(kDirectionPlayback)] = 500;
        break;
      case BusFault::ShortIn:
        faults.shortenBy[Endpoint(kDirectionCapture)] = 8;
        break;
      case BusFault::ShortPlaybackTransfer:
        faults.shortOutTransfers[Endpoint(kDirectionPlayback)] = 8;
        break;
      case BusFault::ZeroFeedback:
        // The device's value minus twice itself reads as nothing sensible.
        faults.feedbackOffset[Endpoint(kDirectionPlayback, true)] = -(6 << 16) * 2;
        break;
      case BusFault::WildFeedback:
        faults.feedbackOffset[Endpoint(kDirectionPlayback, true)] = 3 << 16;
        break;
    }
    RunMs(100);
    faults = {};
    RunMs(500);
    const uint64_t before = Sink().Counters().framesReceived;
    RunMs(500);
    EXPECT_GT(Sink().Counters().framesReceived, before + 20000) << "playing again";
    const ULONG playbackRecoveries = Engine().Recoveries(kDirectionPlayback);
    const ULONG captureRecoveries = Engine().Recoveries(kDirectionCapture);
    switch (fault) {
      case BusFault::LostTime:
        EXPECT_GE(playbackRecoveries, 1u);
        EXPECT_GE(captureRecoveries, 1u);
        break;
      case BusFault::Stall:  // the recovery's pipe reset clears the halt
        EXPECT_EQ(playbackRecoveries, 1u);
        break;
      case BusFault::ShortIn:  // packets outside the capture window fail their transfers
        EXPECT_GE(captureRecoveries, 1u);
        EXPECT_EQ(playbackRecoveries, 0u);
        break;
      case BusFault::ShortPlaybackTransfer:  // the device may have missed bytes: start afresh
        EXPECT_GE(playbackRecoveries, 1u);
        EXPECT_EQ(captureRecoveries, 0u);
        break;
      case BusFault::DroppedOut:    // the device misses frames; the host sees nothing wrong
      case BusFault::ZeroFeedback:  // replaced by the nominal value
      case BusFault::WildFeedback:
        EXPECT_EQ(playbackRecoveries, 0u);
        break;
    }
    StopStreams();
    ExpectPlaybackInOrder(Sink(), sources[1]->Layout());
    Unplug();
    Reboot();
  }
}

// The bus runs on while the controller holds its completions back; the engines see them arrive
// late all at once. Eight frames between two completions (the depth of the pipeline) is lost
// time; seven are only late. A completion came in the frame before the window, so holding n ms
// makes the next one n + 1 frames late.
TEST_F(StreamFaultTest, CompletionsEightOrMoreFramesLateAreLostTimeAndRecovered) {
  struct Case {
    uint64_t heldMs;
    bool lost;
  };
  for (const Case& c : {Case{6, false}, Case{7, true}}) {
    SCOPED_TRACE(c.heldMs);
    StartDuplex();
    const uint64_t tick = uint64_t{machine->Controller()->CurrentFrame()} * 8;
    Faults().heldCompletions.push_back({tick + 16, tick + 16 + 8 * c.heldMs});
    RunMs(500);
    const uint64_t before = Sink().Counters().framesReceived;
    RunMs(500);
    EXPECT_GT(Sink().Counters().framesReceived, before + 20000) << "playing";
    for (ULONG direction : {kDirectionPlayback, kDirectionCapture}) {
      EXPECT_EQ(Engine().LostTimeEvents(direction) != 0, c.lost) << direction;
      EXPECT_EQ(Engine().Recoveries(direction) != 0, c.lost) << direction;
    }
    const auto counters = Sink().Counters();
    StopStreams();
    if (c.lost) {
      ExpectPlaybackInOrder(Sink(), sources[1]->Layout());
    } else {
      ExpectPlaybackClean();
      ExpectCaptureClean(StreamUser::Os);
      ExpectNoFifoFaults(counters);
    }
    Unplug();
    Reboot();
  }
}

// Watches one OUT endpoint from the device's side of the bus: when the host last reset it
// (CLEAR_FEATURE ENDPOINT_HALT, as a pipe reset sends) and when the first packet came after.
class PipeResetWatch final : public sim::devices::ForwardingDevice {
 public:
  using ForwardingDevice::ForwardingDevice;
  sim::devices::ControlResult Control(const sim::devices::BusTime& time,
                                      const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                      std::span<uint8_t> data) override {
    if (setup.bmRequestType.B == 0x02 && setup.bRequest == USB_REQUEST_CLEAR_FEATURE &&
        setup.wValue.W == USB_FEATURE_ENDPOINT_STALL && setup.wIndex.W == endpoint) {
      resetNs = time.Nanoseconds();
      resumedNs = 0;
    }
    return ForwardingDevice::Control(time, setup, data);
  }
  sim::devices::IsoStatus IsoOut(const sim::devices::BusTime& time, uint8_t address,
                                 std::span<const uint8_t> packet) override {
    if (address == endpoint && resetNs != 0 && resumedNs == 0) resumedNs = time.Nanoseconds();
    return ForwardingDevice::IsoOut(time, address, packet);
  }

  uint8_t endpoint = 0;
  uint64_t resetNs = 0;
  uint64_t resumedNs = 0;
};

// After a failed completion the playback worker drains and resets its pipe, then waits 25 ms
// before it submits again. On the bus the endpoint hears nothing for the reset's own control
// transfer (1 ms), the pause, and the three frames a controller schedules a restarted pipe's
// first packet ahead (at full speed, 1 ms each): virtual time makes that exact.
TEST_F(StreamFaultTest, APlaybackRecoveryPausesTwentyFiveMilliseconds) {
  const auto* entry = sim::devices::FindCatalogueEntry("uac1-speaker");
  ASSERT_NE(entry, nullptr);
  auto watched = std::make_unique<PipeResetWatch>(
      std::make_unique<sim::devices::UacDevice>(entry->spec, entry->behaviour));
  PipeResetWatch* watch = watched.get();
  ASSERT_EQ(machine->PlugDevice(std::move(watched)), STATUS_SUCCESS);
  // A playback-only device runs at the rate its stream asks for.
  InKernel([&] {
    ASSERT_EQ(Adapter()->SetOsFormat(kDirectionPlayback, 1, 2, 16, 44100), STATUS_SUCCESS);
    ASSERT_EQ(Engine().OpenDirection(kDirectionPlayback), STATUS_SUCCESS);
  });
  watch->endpoint = Endpoint(kDirectionPlayback);
  RunMs(200);
  EXPECT_EQ(watch->resetNs, 0u) << "no reset while the stream runs clean";
  InKernel([&] { Engine().FailNextPlayback(); });
  RunMs(200);
  EXPECT_EQ(Engine().Recoveries(kDirectionPlayback), 1u);
  ASSERT_NE(watch->resetNs, 0u);
  ASSERT_NE(watch->resumedNs, 0u);
  constexpr uint64_t kMsNs = 1'000'000;
  EXPECT_EQ(watch->resumedNs - watch->resetNs, (1 + 25 + 3) * kMsNs);
  InKernel([&] {
    EXPECT_EQ(Engine().CloseDirection(kDirectionPlayback), STATUS_SUCCESS);
    Adapter()->ClearOsFormat(kDirectionPlayback);
  });
  Unplug();
}

TEST_F(StreamFaultTest, NoCompletionWithinTenSecondsFailsTheOpen) {
  Plug("velmor-dac");
  const uint64_t tick = uint64_t{machine->Controller()->CurrentFrame()} * 8;
  Faults().lostTime.push_back({tick, tick + 8 * 12000});
  InKernel([&] {
    const uint64_t before = Now();
    EXPECT_EQ(Engine().OpenDirection(kDirectionPlayback), STATUS_UNSUCCESSFUL);
    EXPECT_GE(Now() - before, 10000 * kMs);
    EXPECT_EQ(Engine().OpenCount(kDirectionPlayback), 0u);
    EXPECT_FALSE(Engine().WorkerRunning(kDirectionCapture));
  });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamFaultTest, SurpriseRemovalInDuplexEndsBothWorkers) {
  StartDuplex();
  machine->SurpriseRemoveDevice();
  RunMs(100);
  InKernel([&] {
    EXPECT_TRUE(Engine().DeviceGone());
    // The workers ended on their own; the users still close what they opened.
    EXPECT_EQ(Engine().OpenCount(kDirectionPlayback), 2u);
  });
  StopStreams();
  InKernel([&] {
    EXPECT_FALSE(Engine().WorkerRunning(kDirectionPlayback));
    EXPECT_FALSE(Engine().WorkerRunning(kDirectionCapture));
    EXPECT_EQ(Engine().OpenDirection(kDirectionPlayback), STATUS_DELETE_PENDING);
  });
  Unplug();
}

}  // namespace
}  // namespace tarnlink::engine::testing
