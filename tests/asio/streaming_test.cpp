// The driver object streaming against the kernel driver on the machine, as a host drives it:
// buffers, start, the host's buffer switches, stop, release.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "com/dll_exports.h"
#include "driver_entry.h"
#include "driver_fixture.h"
#include "machine_test.h"

namespace asio_test {
namespace {

// One host's view of the streaming: every switch with its half and the time it came, and
// whether outputReady is called from inside it.
struct ScriptedHost {
  static ScriptedHost*& Current() {
    static ScriptedHost* host = nullptr;
    return host;
  }
  IASIO* driver = nullptr;
  LONG engineVersion = 2;
  bool callsOutputReady = false;
  bool timeInfo = false;
  std::vector<LONG> halves;
  std::vector<uint64_t> times;
  std::vector<LONG> messages;
  std::vector<ASIOBufferInfo> buffers;
  uint64_t nonSilentInput = 0;
  ULONG bufferBytes = 0;

  void Switch(LONG half) {
    halves.push_back(half);
    times.push_back(timeGetTime());
    for (const ASIOBufferInfo& info : buffers) {
      auto* bytes = static_cast<BYTE*>(info.buffers[half]);
      if (info.isInput) {
        nonSilentInput += std::count_if(bytes, bytes + bufferBytes, [](BYTE b) { return b != 0; });
      } else {
        std::fill(bytes, bytes + bufferBytes, static_cast<BYTE>(halves.size()));
      }
    }
    if (callsOutputReady) driver->outputReady();
  }
  static void BufferSwitch(LONG half, ASIOBool) { Current()->Switch(half); }
  static ASIOTime* BufferSwitchTimeInfo(ASIOTime* time, LONG half, ASIOBool) {
    Current()->Switch(half);
    return time;
  }
  static LONG Message(LONG selector, LONG, void*, double*) {
    ScriptedHost& host = *Current();
    host.messages.push_back(selector);
    if (selector == kAsioEngineVersion) return host.engineVersion;
    if (selector == kAsioSupportsTimeInfo) return host.timeInfo ? 1 : 0;
    return 0;
  }
  ASIOCallbacks callbacks = {BufferSwitch, nullptr, Message, BufferSwitchTimeInfo};
};

class StreamingTest : public sim::machine::testing::MachineTest {
 protected:
  PDRIVER_INITIALIZE Entry() const override { return DriverEntry; }

  // Creates and starts the driver with every channel at the preferred size, runs ms of machine
  // time, stops and lets the object go.
  void Stream(ScriptedHost& host, DWORD ms) {
    ScriptedHost::Current() = &host;
    RunAsUser([&] {
      auto* driver = new TestableDriver();
      driver->AddRef();
      host.driver = driver;
      ASSERT_EQ(driver->init(nullptr), ASIOTrue);
      LONG inputs = 0, outputs = 0, size = 0, unused = 0;
      ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
      ASSERT_EQ(driver->getBufferSize(&unused, &unused, &size, &unused), ASE_OK);
      for (LONG i = 0; i < inputs; ++i) host.buffers.push_back({ASIOTrue, i, {}});
      for (LONG i = 0; i < outputs; ++i) host.buffers.push_back({ASIOFalse, i, {}});
      ASSERT_EQ(driver->createBuffers(host.buffers.data(), inputs + outputs, size, &host.callbacks),
                ASE_OK);
      host.bufferBytes = static_cast<ULONG>(size) * driver->bytesPerSample_;
      queueDepth = driver->queueDepth_;
      ASSERT_EQ(driver->start(), ASE_OK);
      Sleep(ms);
      ASSERT_EQ(driver->stop(), ASE_OK);
      // Every switch advanced the position by one buffer.
      ASIOSamples position = {};
      ASIOTimeStamp stamp = {};
      ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
      EXPECT_EQ(position.lo, static_cast<ULONG>(size) * host.halves.size());
      EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
      EXPECT_EQ(driver->Release(), 0u);
    });
    ScriptedHost::Current() = nullptr;
  }

  ULONG queueDepth = 0;
};

TEST_F(StreamingTest, DuplexSwitchesOncePerPeriodAlternatingHalvesWithCapturedAudio) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ScriptedHost host;
  host.timeInfo = true;
  Stream(host, 1000);
  // 44.1 kHz, 256 frames: about 172 periods in a second.
  EXPECT_GE(host.halves.size(), 165u);
  EXPECT_LE(host.halves.size(), 175u);
  for (size_t i = 0; i < host.halves.size(); ++i) ASSERT_EQ(host.halves[i], static_cast<LONG>(i % 2));
  EXPECT_GT(host.nonSilentInput, 0u);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamingTest, AnOutputOnlyDeviceFillsTheQueueBeforeTheFirstPeriod) {
  ASSERT_EQ(machine->PlugCatalogueDevice("uac2-playback-only", 0), STATUS_SUCCESS);
  ScriptedHost host;
  host.engineVersion = 1;
  Stream(host, 500);
  ASSERT_GE(host.times.size(), queueDepth + 10);
  // The queue's switches come back to back at start, before the device has taken anything.
  EXPECT_EQ(host.times[queueDepth - 1], host.times[0]);
  EXPECT_GT(host.times[queueDepth + 5], host.times[0]);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
}  // namespace asio_test
