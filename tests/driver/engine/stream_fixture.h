// The stream engine of a device plugged into the simulated machine, with a playback source and
// a capture sink that speak the position signal, so that what reaches the device (or comes back
// from it) proves itself bit-exact and gap-free.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

#include "machine_test.h"
#include "sim/devices/position_signal.h"
#include "sim/devices/uac_device.h"
#include "stream_engine.h"
#include "usb_audio_adapter.h"
#include "with_format.h"

namespace tarnlink::engine::testing {

// Plays the position signal in the USB format it is given, from frame 0 on, coded for the
// device's sample layout (a 24-bit sample in a 32-bit slot carries its code in the top bits).
class PositionSource final : public PlainSource {
 public:
  // constant: every sample is this word instead of the position signal.
  PositionSource(const UsbFormat& format, bool hasCapture, sim::devices::SampleLayout layout,
                 uint32_t constant = 0)
      : PlainSource(format, hasCapture), layout_(layout), constant_(constant) {}
  ULONG Read(PVOID dst, ULONG frames) override;
  USHORT Kind() override { return kind_; }

  // The words are native DSD: the engine copies them over the DSD fill instead of mixing.
  void PlayDsd() { kind_ = kStreamKindDsd; }
  sim::devices::SampleLayout Layout() const { return layout_; }
  uint64_t FramesRead() const { return next_; }

 private:
  USHORT kind_ = kStreamKindPcm;
  sim::devices::SampleLayout layout_;
  uint32_t constant_;
  uint64_t next_ = 0;
};

// Keeps every captured sample per channel.
class RecordingSink final : public WithFormat<ICaptureSink> {
 public:
  VOID Write(PCVOID src, ULONG frames) override;
  NTSTATUS Prepare(const UsbFormat& usb, ULONG) override {
    format_ = usb;
    return STATUS_SUCCESS;
  }
  VOID Stop() override {}

  const std::vector<uint32_t>& Samples(unsigned channel) const { return samples_[channel]; }
  uint64_t EmptyDeliveries() const { return empty_; }

 private:
  std::vector<uint32_t> samples_[8];
  uint64_t empty_ = 0;
};

class StreamTest : public sim::machine::testing::MachineTest {
 protected:
  PDRIVER_INITIALIZE Entry() const override;

  // Plugs a catalogue device, optionally with its behaviour changed.
  void Plug(std::string_view name,
            const std::function<void(sim::devices::DeviceBehaviour&)>& change = {});
  UsbAudioAdapter* Adapter();
  CStreamEngine& Engine() { return Adapter()->Engine(); }
  sim::devices::UacDevice* Device();
  const sim::devices::PlaybackSink& Sink();
  // The layout of the samples on the bus in a direction's current alternate setting.
  sim::devices::SampleLayout DeviceLayout(ULONG direction);
  // Opens playback (and capture with it on a two-direction device) and starts the named
  // users' engines on position sources; clocked: the sources say their user records too.
  void StartPlayback(std::initializer_list<StreamUser> users, bool clocked);
  // Starts the named users' capture feeds into recording sinks; capture must be open.
  void StartCapture(std::initializer_list<StreamUser> users);
  // Stops every engine and feed and closes what StartPlayback or StartCapture opened.
  void StopStreams();
  // How long the streaming proofs run: a simulated minute. The sanitizer build, many times
  // slower, is there for memory faults rather than for a minute's audio: it streams 5 s.
#if defined(__SANITIZE_ADDRESS__)
  static constexpr uint64_t kProofMs = 5000;
#else
  static constexpr uint64_t kProofMs = 60000;
#endif
  // Lets the started streams run for ms of simulated time and proves that after the first half
  // second they allocate nothing; returns the playback sink's counters before anything stops
  // (the FIFO runs dry once the stream stops, until then it never may).
  sim::devices::SinkCounters RunStreaming(uint64_t ms);
  static void ExpectNoFifoFaults(const sim::devices::SinkCounters& counters);
  // Every sample the device received since the direction opened, per channel, is the
  // position signal of the source (after leading silence), without gaps or repeats.
  void ExpectPlaybackClean();
  // The same, from what the device's own checker saw so far, for runs too long to keep every
  // sample: call it while the stream runs (once the sources stop, silence follows).
  void ExpectPlayedCleanSoFar();
  void ExpectCaptureClean(StreamUser user);

  std::unique_ptr<PositionSource> sources[2];
  std::unique_ptr<RecordingSink> sinks[2];
  ULONG opened = 0;  // directions opened by the helpers, as a bit mask
  sim::devices::SampleLayout captureLayout;
  // Runs body on a kernel thread; fails the test when the machine stopped.
  void InKernel(const std::function<void()>& body);
  // Lets the machine run for the given milliseconds of simulated time.
  void RunMs(uint64_t ms);
  sim::usb::BusFaults& Faults() { return machine->Controller()->Faults(); }
  UCHAR Endpoint(ULONG direction, bool feedback = false);
  // A fresh machine with the driver loaded, for the next case of a table.
  void Reboot();
  // Allocations with the driver's tag so far.
  uint64_t DriverAllocations();
};

// The continuity of one channel of what the device's playback sink received.
sim::devices::Continuity SinkContinuity(const sim::devices::PlaybackSink& sink, unsigned channel,
                                        sim::devices::SampleLayout layout);

// What a recovery may do to the played signal: pause it (a capture-clocked engine starts
// again after silence) and lose frames, never reorder or repeat them.
void ExpectPlaybackInOrder(const sim::devices::PlaybackSink& sink, sim::devices::SampleLayout layout);

}  // namespace tarnlink::engine::testing
