// A host on the machine as the driver object's streaming tests need one: the callbacks record
// every buffer switch and message, and the fixture runs a host process that may outlive one
// test body while the machine is suspended, resumed or its device fails.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "asio_machine_test.h"
#include "driver_fixture.h"

namespace asio_test {

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
  // Switches whose first input held exactly what the switch before it held: the capture
  // signal never repeats a period.
  size_t repeatedInputs = 0;
  std::vector<BYTE> lastInput;
  ULONG bufferBytes = 0;
  // The playback ring of the (first) device, and the switches during which this process wrote
  // into it.
  const SharedRingHeader* playback = nullptr;
  size_t writtenDuringSwitch = 0;

  size_t Resets() const { return std::count(messages.begin(), messages.end(), kAsioResetRequest); }
  void Switch(LONG half) {
    halves.push_back(half);
    times.push_back(timeGetTime());
    for (const ASIOBufferInfo& info : buffers) {
      auto* bytes = static_cast<BYTE*>(info.buffers[half]);
      if (info.isInput) {
        const auto nonSilent = std::count_if(bytes, bytes + bufferBytes, [](BYTE b) { return b != 0; });
        nonSilentInput += nonSilent;
        if (&info == &buffers.front()) {
          if (nonSilent != 0 && std::equal(lastInput.begin(), lastInput.end(), bytes, bytes + bufferBytes))
            ++repeatedInputs;
          lastInput.assign(bytes, bytes + bufferBytes);
        }
      } else {
        std::fill(bytes, bytes + bufferBytes, static_cast<BYTE>(halves.size()));
      }
    }
    const ULONG before = playback != nullptr ? playback->writeOffset : 0;
    if (callsOutputReady) driver->outputReady();
    if (playback != nullptr && playback->writeOffset != before) ++writtenDuringSwitch;
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

class StreamingTest : public AsioMachineTest {
 protected:
  void TearDown() override {
    ScriptedHost::Current() = nullptr;
    MachineTest::TearDown();
  }

  // Makes the driver object as the class factory does, initialised, with buffers on every
  // channel at the preferred size.
  TestableDriver* Open(ScriptedHost& host) {
    ScriptedHost::Current() = &host;
    auto* driver = new TestableDriver();
    driver->AddRef();
    host.driver = driver;
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    LONG inputs = 0, outputs = 0, size = 0, unused = 0;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(driver->getBufferSize(&unused, &unused, &size, &unused), ASE_OK);
    for (LONG i = 0; i < inputs; ++i) host.buffers.push_back({ASIOTrue, i, {}});
    for (LONG i = 0; i < outputs; ++i) host.buffers.push_back({ASIOFalse, i, {}});
    EXPECT_EQ(driver->createBuffers(host.buffers.data(), inputs + outputs, size, &host.callbacks),
              ASE_OK);
    host.bufferBytes = static_cast<ULONG>(size) * driver->bytesPerSample_;
    host.playback = reinterpret_cast<const SharedRingHeader*>(
        static_cast<ULONG_PTR>(driver->deviceGroup_.At(0)->PlaybackRing()));
    return driver;
  }

  // A host process that opens the driver with the buffer-size index stored, starts, streams
  // for 100 ms and stays, for the machine to do something to it meanwhile.
  PEPROCESS StartHost(ScriptedHost& host, TestableDriver** driver, DWORD bufferSizeIndex) {
    PEPROCESS process = nullptr;
    RunAsUser(
        [&] {
          CmnRegUtil settings;
          settings.CreateDefaults();
          settings.WriteNumber(kSettingBufferSizeIndex, bufferSizeIndex);
          *driver = Open(host);
          ASSERT_EQ((*driver)->start(), ASE_OK);
          Sleep(100);
        },
        &process);
    return process;
  }
};

}  // namespace asio_test
