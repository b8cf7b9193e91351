// Whole-system runs of the operating system's audio path: the audio engine opens the driver's
// wave filter through the framework, streams through the WaveRT stream, the stream engine and
// the bus, and the device proves (or the engine proves, for capture) that every sample arrived
// in order.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "sim/audioengine/audio_engine.h"
#include "stream_fixture.h"

namespace tarnlink::scenarios::testing {

// The position signal in a pin's format, from frame 0 on.
class SignalWriter {
 public:
  void Fill(uint8_t* dst, ULONG frames, const sim::audioengine::PinFormat& format);
  uint64_t Frames() const { return next_; }

 private:
  uint64_t next_ = 0;
};

// Keeps what a capture pin delivered, per channel.
class SignalReader {
 public:
  void Take(const uint8_t* src, ULONG frames, const sim::audioengine::PinFormat& format);
  const std::vector<uint32_t>& Samples(unsigned channel) const { return samples_[channel]; }

 private:
  std::vector<uint32_t> samples_[2];
};

// The layout in which a pin's samples show the signal at the other end: the receiver's
// container, holding as many valid bits as both sides carry.
sim::devices::SampleLayout SeenLayout(const sim::audioengine::PinFormat& pin,
                                      sim::devices::SampleLayout other);

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
  SignalWriter writer;
  SignalReader reader;
};

}  // namespace tarnlink::scenarios::testing
