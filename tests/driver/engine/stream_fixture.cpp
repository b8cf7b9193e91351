#include "stream_fixture.h"

#include <cstring>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "driver_pool.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::engine::testing {

ULONG PositionSource::Read(PVOID dst, ULONG frames) {
  const auto layout = Layout();
  auto* out = static_cast<uint8_t*>(dst);
  for (ULONG f = 0; f < frames; ++f, ++next_) {
    if (out == nullptr) continue;
    for (ULONG c = 0; c < format_.Channels; ++c) {
      const uint32_t word =
          constant_ != 0 ? constant_ : sim::devices::PositionSignal::Encode(next_, c, layout);
      std::memcpy(out, &word, layout.subslotBytes);
      out += layout.subslotBytes;
    }
  }
  return frames;
}

VOID RecordingSink::Write(PCVOID src, ULONG frames) {
  if (src == nullptr) {
    ++empty_;
    return;
  }
  const auto* in = static_cast<const uint8_t*>(src);
  const ULONG width = format_.Bits / 8;
  for (ULONG f = 0; f < frames; ++f) {
    for (ULONG c = 0; c < format_.Channels && c < 8; ++c) {
      uint32_t word = 0;
      std::memcpy(&word, in + (f * format_.Channels + c) * width, width);
      samples_[c].push_back(word);
    }
  }
}

PDRIVER_INITIALIZE StreamTest::Entry() const {
  return DriverEntry;
}

void StreamTest::Plug(std::string_view name,
                      const std::function<void(sim::devices::DeviceBehaviour&)>& change) {
  const auto* entry = sim::devices::FindCatalogueEntry(name);
  ASSERT_NE(entry, nullptr);
  sim::devices::DeviceBehaviour behaviour = entry->behaviour;
  // The checks here read the samples, some with the layouts the sources wrote them in.
  behaviour.keepSamples = true;
  if (change) change(behaviour);
  ASSERT_EQ(machine->PlugDevice(std::make_unique<sim::devices::UacDevice>(entry->spec, behaviour)),
            STATUS_SUCCESS);
}

UsbAudioAdapter* StreamTest::Adapter() {
  return static_cast<UsbAudioAdapter*>(GetDispatchContext(machine->FunctionDevice())->Adapter);
}

sim::devices::UacDevice* StreamTest::Device() {
  return static_cast<sim::devices::UacDevice*>(machine->Device());
}

const sim::devices::PlaybackSink& StreamTest::Sink() {
  return *Device()->Sink(Adapter()->Model().PlaybackInterface()->InterfaceNumber);
}

sim::devices::SampleLayout StreamTest::DeviceLayout(ULONG direction) {
  const uint8_t number = Adapter()->Model().StreamInterface(direction)->InterfaceNumber;
  const uint8_t alt = Device()->AlternateSetting(number);
  for (const auto& stream : Device()->Spec().streams) {
    if (stream.bInterfaceNumber != number || alt == 0 || alt > stream.alts.size()) continue;
    const auto& setting = stream.alts[alt - 1];
    return {setting.bSubslotSize, setting.bBitResolution};
  }
  ADD_FAILURE() << "no alternate setting for direction " << direction;
  return {};
}

void StreamTest::StartPlayback(std::initializer_list<StreamUser> users, bool clocked) {
  InKernel([&] {
    CStreamEngine& engine = Engine();
    ASSERT_EQ(engine.OpenDirection(kDirectionPlayback), STATUS_SUCCESS);
    opened |= 1u << kDirectionPlayback;
    // Only this start's sources say what the device must receive.
    for (auto& source : sources) source.reset();
    for (StreamUser user : users) {
      auto& source = sources[Value(user)];
      source = std::make_unique<PositionSource>(engine.UsbFormatOf(kDirectionPlayback), clocked,
                                                DeviceLayout(kDirectionPlayback));
      engine.PlaybackEngineOf(user).SetSource(source.get());
      ASSERT_EQ(engine.StartPlaybackEngine(user), STATUS_SUCCESS);
    }
  });
}

void StreamTest::StartCapture(std::initializer_list<StreamUser> users) {
  InKernel([&] {
    CStreamEngine& engine = Engine();
    ASSERT_EQ(engine.OpenDirection(kDirectionCapture), STATUS_SUCCESS);
    opened |= 1u << kDirectionCapture;
    captureLayout = DeviceLayout(kDirectionCapture);
    for (StreamUser user : users) {
      auto& sink = sinks[Value(user)];
      sink = std::make_unique<RecordingSink>();
      ASSERT_EQ(engine.CaptureFeedOf(user).SetTarget(sink.get()), STATUS_SUCCESS);
      ASSERT_EQ(engine.StartCaptureFeed(user), STATUS_SUCCESS);
    }
  });
}

void StreamTest::StopStreams() {
  InKernel([&] {
    CStreamEngine& engine = Engine();
    for (StreamUser user : {StreamUser::Asio, StreamUser::Os}) {
      engine.PlaybackEngineOf(user).Stop();
      engine.CaptureFeedOf(user).Stop();
    }
    for (ULONG direction = 0; direction < kDirectionCount; ++direction) {
      if ((opened & (1u << direction)) != 0) {
        EXPECT_EQ(engine.CloseDirection(direction), STATUS_SUCCESS);
      }
    }
    opened = 0;
  });
}

sim::devices::SinkCounters StreamTest::RunStreaming(uint64_t ms) {
  constexpr uint64_t kSettleMs = 500;
  RunMs(kSettleMs);
  const uint64_t allocations = DriverAllocations();
  RunMs(ms - kSettleMs);
  EXPECT_EQ(DriverAllocations(), allocations) << "allocations while streaming";
  EXPECT_EQ(Device()->ViolationCount(), 0u)
      << (Device()->Violations().empty() ? "" : Device()->Violations().front());
  return Sink().Counters();
}

void StreamTest::ExpectNoFifoFaults(const sim::devices::SinkCounters& counters) {
  EXPECT_EQ(counters.underruns, 0u);
  EXPECT_EQ(counters.overruns, 0u);
}

void StreamTest::ExpectPlaybackClean() {
  const auto& sink = Sink();
  const auto layout = sources[0] ? sources[0]->Layout() : sources[1]->Layout();
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen = SinkContinuity(sink, channel, layout);
    EXPECT_TRUE(seen.Clean()) << "playback channel " << channel << ": first break at "
                              << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                              << seen.repeats;
    EXPECT_GT(seen.frames, 0u);
  }
}

void StreamTest::ExpectPlayedCleanSoFar() {
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen = Sink().Check(channel);
    EXPECT_TRUE(seen.Clean()) << "played channel " << channel << ": first break at "
                              << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                              << seen.repeats << ", wrong channel " << seen.wrongChannel;
    EXPECT_GT(seen.frames, 0u);
  }
}

void StreamTest::ExpectCaptureClean(StreamUser user) {
  const auto layout = captureLayout;
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen =
        sim::devices::CheckContinuity(sinks[Value(user)]->Samples(channel), channel, layout);
    EXPECT_TRUE(seen.Clean()) << "capture channel " << channel << ": first break at "
                              << seen.firstBreak << ", gaps " << seen.gaps;
    EXPECT_GT(seen.frames, 0u);
  }
}

void StreamTest::InKernel(const std::function<void()>& body) {
  ASSERT_TRUE(machine->RunInKernelThread(body));
}

UCHAR StreamTest::Endpoint(ULONG direction, bool feedback) {
  const USBAudioStreamInterface* record = Adapter()->Model().StreamInterface(direction);
  const PUSBD_PIPE_INFORMATION pipe = feedback ? record->FeedbackPipe : record->DataPipe;
  EXPECT_NE(pipe, nullptr);
  return pipe != nullptr ? pipe->EndpointAddress : 0;
}

void StreamTest::Reboot() {
  if (machine->DriverLoaded()) {
    ASSERT_TRUE(machine->UnloadDriver());
  }
  machine.reset();
  for (auto& source : sources) source.reset();
  for (auto& sink : sinks) sink.reset();
  machine = std::make_unique<sim::machine::Machine>(kernel(), Entry(), Options());
  ASSERT_EQ(machine->LoadDriver(), STATUS_SUCCESS);
}

uint64_t StreamTest::DriverAllocations() {
  return kernel().PoolStats(kDriverPoolTag).totalCount;
}

void StreamTest::RunMs(uint64_t ms) {
  ASSERT_TRUE(kernel().RunFor(ms * kMs));
}

sim::devices::Continuity SinkContinuity(const sim::devices::PlaybackSink& sink, unsigned channel,
                                        sim::devices::SampleLayout layout) {
  // Once the source stops, the transfers already on their way carry silence.
  std::vector<uint32_t> words = sink.Samples(channel);
  while (!words.empty() && words.back() == 0) words.pop_back();
  return sim::devices::CheckContinuity(words, channel, layout);
}

void ExpectPlaybackInOrder(const sim::devices::PlaybackSink& sink, sim::devices::SampleLayout layout) {
  for (unsigned channel = 0; channel < 2; ++channel) {
    std::vector<uint32_t> words = sink.Samples(channel);
    std::erase(words, 0u);
    const auto seen = sim::devices::CheckContinuity(words, channel, layout);
    EXPECT_EQ(seen.repeats, 0u) << "channel " << channel << " first break " << seen.firstBreak;
    EXPECT_EQ(seen.wrongChannel, 0u) << "channel " << channel;
    EXPECT_GT(seen.frames, 0u) << "channel " << channel;
  }
}

}  // namespace tarnlink::engine::testing
