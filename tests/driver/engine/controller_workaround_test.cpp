// Streams on a host controller that needs playback transfers written ahead of their submission
// (an ATI controller): what the device plays and captures is still bit-exact and gap-free.
#include "stream_fixture.h"

namespace tarnlink::engine::testing {
namespace {

class ControllerWorkaroundTest : public StreamTest {
 protected:
  sim::machine::MachineOptions Options() const override {
    sim::machine::MachineOptions options;
    options.controller.pciVendorId = 0x1002;
    return options;
  }
};

TEST_F(ControllerWorkaroundTest, DuplexPlaysBitExactFromTransfersWrittenAhead) {
  struct Case {
    std::string_view device;
    StreamUser user;  // the operating-system engine writes as it is told what was played, the
                      // ASIO engine whenever its source has frames
    bool clocked;     // the source records too; without, the played frames clock it all the same
  };
  const Case cases[] = {{"velmor-dac", StreamUser::Os, true},
                        {"velmor-dac", StreamUser::Asio, true},
                        {"velmor-dac", StreamUser::Os, false},
                        {"uac2-implicit", StreamUser::Os, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.device << " user " << Value(c.user) << " clocked "
                                      << c.clocked);
    Plug(c.device);
    ASSERT_TRUE(Adapter()->AmdWorkaround());
    StartCapture({StreamUser::Os});
    StartPlayback({c.user}, c.clocked);
    const auto counters = RunStreaming(3000);
    StopStreams();
    ExpectPlaybackClean();
    ExpectCaptureClean(StreamUser::Os);
    ExpectNoFifoFaults(counters);
    EXPECT_EQ(Engine().Recoveries(kDirectionPlayback), 0u);
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(ControllerWorkaroundTest, AFailedPlaybackCompletionHandsEveryTransferAheadAgain) {
  Plug("velmor-dac");
  StartCapture({StreamUser::Os});
  StartPlayback({StreamUser::Os}, true);
  RunMs(500);
  InKernel([&] { Engine().FailNextPlayback(); });
  RunMs(500);
  const uint64_t before = Sink().Counters().framesReceived;
  RunMs(500);
  EXPECT_EQ(Engine().Recoveries(kDirectionPlayback), 1u);
  EXPECT_GT(Sink().Counters().framesReceived, before + 20000) << "playing again";
  StopStreams();
  ExpectPlaybackInOrder(Sink(), sources[1]->Layout());
  ExpectCaptureClean(StreamUser::Os);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
}  // namespace tarnlink::engine::testing
