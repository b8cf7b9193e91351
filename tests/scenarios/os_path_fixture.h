// Whole-system runs of the operating system's audio path: the audio engine opens the driver's
// wave filter through the framework, streams through the WaveRT stream, the stream engine and
// the bus, and the device proves (or the engine proves, for capture) that every sample arrived
// in order.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "sim/audioengine/audio_engine.h"
#include "sim/audioengine/pin_signal.h"
#include "stream_fixture.h"

namespace tarnlink::scenarios::testing {

class OsPathTest : public engine::testing::StreamTest {
 protected:
  void TearDown() override;

  // Opens the audio engine on the plugged device's filter.
  void OpenEngine();
  // A render (or capture) stream of 10 ms periods in the wished format, started.
  NTSTATUS StartRender(const sim::audioengine::WishedFormat& wished);
  NTSTATUS StartCapture(const sim::audioengine::WishedFormat& wished);
  void CloseStreams();
  // Every sample the device received is the signal the engine wrote, without gaps or repeats.
  void ExpectRenderClean();
  void ExpectCaptureClean();

  std::unique_ptr<sim::audioengine::AudioEngine> engine;
  std::unique_ptr<sim::audioengine::EngineStream> render;
  std::unique_ptr<sim::audioengine::EngineStream> capture;
  sim::audioengine::SignalWriter writer;
  sim::audioengine::SignalReader reader;
};

}  // namespace tarnlink::scenarios::testing
