// The driver object streaming against the kernel driver on the machine, as a host drives it:
// buffers, start, the host's buffer switches, stop, release.
#include "streaming_fixture.h"

namespace asio_test {
namespace {

// Starts, runs ms of machine time, stops, and checks that every switch advanced the position.
void StreamFor(TestableDriver* driver, ScriptedHost& host, DWORD ms) {
  ASSERT_EQ(driver->start(), ASE_OK);
  Sleep(ms);
  ASSERT_EQ(driver->stop(), ASE_OK);
  ASIOSamples position = {};
  ASIOTimeStamp stamp = {};
  ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
  EXPECT_EQ(position.lo, driver->asioBufferSize_ * host.halves.size());
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(StreamingTest, DuplexSwitchesOncePerPeriodAlternatingHalvesWithCapturedAudio) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  host.timeInfo = true;
  RunAsUser([&] { StreamFor(Open(host), host, 1000); });
  // 44.1 kHz, 256 frames: about 172 periods in a second.
  EXPECT_GE(host.halves.size(), 165u);
  EXPECT_LE(host.halves.size(), 175u);
  for (size_t i = 0; i < host.halves.size(); ++i) ASSERT_EQ(host.halves[i], static_cast<LONG>(i % 2));
  EXPECT_GT(host.nonSilentInput, 0u);
  EXPECT_EQ(host.repeatedInputs, 0u);
  EXPECT_EQ(host.Resets(), 0u);
  Unload();
}

// A host that calls outputReady has its output written at once, inside the switch; one that
// does not has it written after the switch returns.
TEST_F(StreamingTest, OutputReadyDecidesWhenTheHostsOutputGoesOut) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  for (const bool callsOutputReady : {false, true}) {
    ScriptedHost host;
    host.callsOutputReady = callsOutputReady;
    RunAsUser([&] { StreamFor(Open(host), host, 200); });
    ASSERT_GT(host.halves.size(), 30u);
    EXPECT_EQ(host.writtenDuringSwitch, callsOutputReady ? host.halves.size() : 0u);
  }
  Unload();
}

TEST_F(StreamingTest, AnOutputOnlyDeviceFillsTheQueueBeforeTheFirstPeriod) {
  ASSERT_EQ(machine->PlugCatalogueDevice("uac2-playback-only", 0), STATUS_SUCCESS);
  ScriptedHost host;
  host.engineVersion = 1;
  ULONG queue = 0;
  RunAsUser([&] {
    TestableDriver* driver = Open(host);
    ASIOChannelInfo info = {0, ASIOFalse};
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_STREQ(info.name, "Velmor USB Audio Tarn Out 01");
    EXPECT_EQ(driver->inputs_, 0u);
    queue = driver->queueDepth_;
    StreamFor(driver, host, 500);
  });
  ASSERT_GE(host.times.size(), queue + 10);
  // The queue's switches come back to back at start, before the device has taken anything.
  EXPECT_EQ(host.times[queue - 1], host.times[0]);
  EXPECT_GT(host.times[queue + 5], host.times[0]);
  Unload();
}

TEST_F(StreamingTest, CreateBuffersSizesTheQueueAndRefusesWhatItCannotMake) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  ScriptedHost::Current() = &host;
  RunAsUser([&] {
    TestableDriver driver;
    ASSERT_EQ(driver.init(nullptr), ASIOTrue);
    ASSERT_EQ(driver.setSampleRate(48000), ASE_OK);
    ASIOBufferInfo twice[] = {{ASIOFalse, 1, {}}, {ASIOFalse, 1, {}}};
    EXPECT_EQ(driver.createBuffers(twice, 2, 256, &host.callbacks), ASE_InvalidParameter);
    ASIOBufferInfo beyond[] = {{ASIOTrue, 2, {}}};
    EXPECT_EQ(driver.createBuffers(beyond, 1, 256, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver.createBuffers(twice, 5, 256, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver.state_, INITIALIZED);
    // Periods queued ahead cover two milliseconds, at least two of them.
    for (const auto& [size, depth] : {std::pair<LONG, ULONG>{256, 2}, {4, 24}}) {
      ASIOBufferInfo both[] = {{ASIOTrue, 0, {}}, {ASIOFalse, 1, {}}};
      ASSERT_EQ(driver.createBuffers(both, 2, size, &host.callbacks), ASE_OK) << size;
      EXPECT_EQ(driver.queueDepth_, depth) << size;
      EXPECT_NE(both[1].buffers[0], nullptr);
      EXPECT_NE(both[1].buffers[0], both[1].buffers[1]);
      ASIOChannelInfo info = {1, ASIOFalse};
      ASSERT_EQ(driver.getChannelInfo(&info), ASE_OK);
      EXPECT_EQ(info.isActive, ASIOTrue);
      EXPECT_EQ(driver.createBuffers(both, 2, size, &host.callbacks), ASE_NotPresent);
      EXPECT_EQ(driver.disposeBuffers(), ASE_OK);
    }
    EXPECT_EQ(driver.disposeBuffers(), ASE_NotPresent);

    // DSD sizes come in whole 32-bit device words, and DSD silence is 0x96.
    ASIOIoFormat dsd = {};
    dsd.FormatType = kASIODSDFormat;
    ASSERT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_SUCCESS);
    ASSERT_EQ(driver.setSampleRate(2822400), ASE_OK);
    ASIOBufferInfo output[] = {{ASIOFalse, 0, {}}};
    EXPECT_EQ(driver.createBuffers(output, 1, 1000, &host.callbacks), ASE_InvalidParameter);
    ASSERT_EQ(driver.createBuffers(output, 1, 1024, &host.callbacks), ASE_OK);
    EXPECT_EQ(driver.periodFrames_, 32u);
    EXPECT_EQ(static_cast<BYTE*>(output[0].buffers[0])[0], 0x96);
    EXPECT_EQ(driver.disposeBuffers(), ASE_OK);
  });
  Unload();
}

}  // namespace
}  // namespace asio_test
