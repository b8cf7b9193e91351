// How the driver object keeps a host streaming through what happens around it: a failed
// transfer, system suspend and resume, settings and rates changed while it runs, and a host
// that lets it go in any state.
#include "asio_trace_points.h"
#include "settings/cpl_reg_util.h"
#include "streaming_fixture.h"

namespace asio_test {
namespace {

// A broken-off stream starts again in place: the host keeps its switches and hears nothing.
TEST_F(StreamingTest, AFailedTransferIsRestartedWithoutTellingTheHost) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  size_t before = 0;
  RunAsUser([&] {
    TestableDriver* driver = Open(host);
    ASSERT_EQ(driver->start(), ASE_OK);
    Sleep(200);
    before = host.halves.size();
    ASSERT_TRUE(driver->deviceGroup_.At(0)->Request(IOCTL_ASIO_FAIL_NEXT_CAPTURE, nullptr, 0,
                                                    nullptr, 0));
    Sleep(500);
    EXPECT_EQ(driver->state_, RUNNING);
    EXPECT_EQ(driver->Release(), 0u);  // running, buffers made: the object unwinds it all
  });
  EXPECT_GE(kernel().CountTracePoint(kTraceStreamRestarted), 1u);
  EXPECT_EQ(host.Resets(), 0u);
  EXPECT_GT(host.halves.size(), before + 60);
  Unload();
}

// Asleep, the host keeps getting (idle) switches from the timer; awake, the stream runs again.
TEST_F(StreamingTest, SuspendRunsIdleSwitchesAndResumeRestartsTheStream) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  TestableDriver* driver = nullptr;
  PEPROCESS process = StartHost(host, &driver, 127);  // 512 frames at 44.1 kHz
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(machine->SuspendSystem(), STATUS_SUCCESS);
  size_t asleep = 0;
  InProcess(process, [&] {
    // The stop the window thread sends may take a while with the device already off.
    Sleep(100);
    EXPECT_EQ(driver->state_, SUSPENDED);
    asleep = host.halves.size();
    Sleep(120);
    // 512 frames at 44.1 kHz: a timer of 12 ms.
    EXPECT_GE(host.halves.size(), asleep + 9);
    EXPECT_LE(host.halves.size(), asleep + 11);
  });
  ASSERT_EQ(machine->ResumeSystem(), STATUS_SUCCESS);
  InProcess(
      process,
      [&] {
        Sleep(300);
        EXPECT_EQ(driver->state_, RUNNING);
        const size_t awake = host.halves.size();
        Sleep(300);
        EXPECT_GE(host.halves.size(), awake + 24);  // 300 ms of 11.6 ms periods
        EXPECT_EQ(driver->stop(), ASE_OK);
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);
      },
      true);
  EXPECT_EQ(host.Resets(), 0u);
  Unload();
}

// The device leaves while the host streams: the host is asked to reset, and the object goes
// without leaving anything behind in the kernel driver.
TEST_F(StreamingTest, SurpriseRemovalAsksTheHostToResetAndLeavesNothing) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  TestableDriver* driver = nullptr;
  PEPROCESS process = StartHost(host, &driver, 63);
  ASSERT_NE(driver, nullptr);
  machine->SurpriseRemoveDevice(0);
  InProcess(
      process,
      [&] {
        Sleep(400);
        EXPECT_GE(host.Resets(), 1u);
        EXPECT_EQ(driver->Release(), 0u);
      },
      true);
  EXPECT_EQ(machine->UnplugDevice(sim::machine::Removal::Surprise, 0), STATUS_SUCCESS);
  Unload();
}

TEST_F(StreamingTest, ARateSetWhileRunningRestartsTheStreamAtThatRate) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  RunAsUser([&] {
    TestableDriver* driver = Open(host);
    ASSERT_EQ(driver->start(), ASE_OK);
    Sleep(100);
    ASSERT_EQ(driver->setSampleRate(96000), ASE_OK);
    EXPECT_EQ(driver->state_, RUNNING);
    ASIOSampleRate rate = 0;
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 96000);
    EXPECT_EQ(driver->deviceGroup_.At(0)->DeviceRate(), 96000u);
    const size_t before = host.halves.size();
    Sleep(500);
    // 256 frames at 96 kHz: 187 periods in a second.
    EXPECT_GE(host.halves.size(), before + 88);
    EXPECT_EQ(driver->Release(), 0u);
  });
  Unload();
}

// The control panel changes the size while the host streams: the host is asked to reset but may
// go on. A new rate must wait for new buffers, and a host that keeps its own rate puts it back.
TEST_F(StreamingTest, SettingsChangedWhileStreamingAskTheHostToReset) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  RunAsUser([&] {
    TestableDriver* driver = Open(host);
    ASSERT_EQ(driver->start(), ASE_OK);
    Sleep(50);
    CCplRegUtil panel;
    ASSERT_EQ(panel.WriteNumber(kSettingBufferSizeIndex, 31), 1);
    Sleep(50);
    EXPECT_EQ(host.Resets(), 1u);
    EXPECT_EQ(driver->resetPending_, 0u);
    EXPECT_EQ(driver->state_, RUNNING);
    ASSERT_EQ(panel.WriteNumber(kSettingSamplingRate, 48000), 1);
    Sleep(50);
    EXPECT_EQ(host.Resets(), 2u);
    ASSERT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->start(), ASE_NotPresent);
    // The host resets: new buffers at the new size and rate.
    ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
    LONG size = 0, unused = 0;
    ASSERT_EQ(driver->getBufferSize(&unused, &unused, &size, &unused), ASE_OK);
    EXPECT_EQ(size, 128);
    ASSERT_EQ(driver->createBuffers(host.buffers.data(), static_cast<LONG>(host.buffers.size()),
                                    size, &host.callbacks),
              ASE_OK);
    EXPECT_EQ(driver->deviceGroup_.At(0)->DeviceRate(), 44100u);
    EXPECT_EQ(CmnRegUtil().ReadNumber(kSettingSamplingRate), 44100u);
    EXPECT_EQ(driver->start(), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
  });
  Unload();
}

// Whatever state the host leaves it in, the object unwinds, and the stored rate goes back to
// one the control panel can name.
TEST_F(StreamingTest, ReleaseLeavesANamedRateStored) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  for (const auto& [stored, kept] : {std::pair<DWORD, DWORD>{2822400, 88200},
                                     {96000, 96000},
                                     {1411200, 44100}}) {
    RunAsUser([&, stored = stored, kept = kept] {
      CmnRegUtil settings;
      settings.CreateDefaults();
      settings.WriteNumber(kSettingSamplingRate, stored);
      auto* driver = new TestableDriver();
      driver->AddRef();
      ASSERT_EQ(driver->init(nullptr), ASIOTrue);
      EXPECT_EQ(driver->Release(), 0u);
      EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), kept) << stored;
    });
  }
  Unload();
}

TEST_F(StreamingTest, TheTimeStampIsTheSystemTimeInNanoseconds) {
  RunAsUser([&] {
    TestableDriver driver;
    Sleep(5000 - timeGetTime());
    ASSERT_EQ(timeGetTime(), 5000u);
    driver.TakeTimeStamp();
    EXPECT_EQ(driver.timeStamp_.hi, 1u);
    EXPECT_EQ(driver.timeStamp_.lo, 705032704u);
  });
  Unload();
}

}  // namespace
}  // namespace asio_test
