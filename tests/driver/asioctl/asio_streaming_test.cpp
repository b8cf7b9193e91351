// ASIO streams through a client process that follows the ring rules on its side: duplex
// bit-exact at small and large periods, playback alone, the client's restart after the engine
// broke the stream off, a device pulled mid-stream, and a client that scribbles over the ring
// headers while the stream runs.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "asio_channel_fixture.h"
#include "fake_miniport.h"
#include "kernel/machine.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/position_signal.h"
#include "user_mode.h"

namespace tarnlink::asioctl::testing {
namespace {

using sim::devices::SampleLayout;

// The client's streaming loop: per period event, every whole capture period is read out and one
// period of the position signal goes into the playback ring for it, as a host's buffer switch
// does; without capture, a period goes out whenever the ring has room for one.
class StreamingClient {
 public:
  StreamingClient(AsioClient& client, const PrepareResult& rings, ULONG periodFrames)
      : client_(client), capture_(rings.captureRing), playback_(rings.playbackRing),
        period_(periodFrames) {}

  void Restart() {
    if (capture_.Mapped()) capture_.Restart(false);
    if (playback_.Mapped()) playback_.Restart(true);
  }

  // Runs until `frames` playback frames went out; false when the period events stopped.
  bool Run(uint64_t frames, SampleLayout playbackLayout, SampleLayout captureLayout,
           const std::function<void()>& eachPeriod = {}) {
    playbackLayout_ = playbackLayout;
    captureLayout_ = captureLayout;
    const uint64_t end = written_ + frames;
    while (written_ < end) {
      if (!client_.WaitPeriod(1000)) return false;
      if (eachPeriod) eachPeriod();
      if (capture_.Mapped()) {
        while (capture_.Fill() >= period_ * capture_.FrameBytes()) {
          ReadCapturePeriod();
          WritePlaybackPeriod();
        }
      } else {
        while (playback_.RingBytes() - playback_.Fill() >= period_ * playback_.FrameBytes())
          WritePlaybackPeriod();
      }
      client_.SignalOutput();
    }
    return true;
  }

  // Every playback sample is this word from now on instead of the position signal.
  void PlayConstant(uint32_t word) { constant_ = word; }
  const std::vector<uint32_t>& Captured(unsigned channel) const { return captured_[channel]; }
  ClientRing& CaptureRing() { return capture_; }
  ClientRing& PlaybackRing() { return playback_; }

 private:
  void ReadCapturePeriod() {
    const ULONG frameBytes = capture_.FrameBytes();
    std::vector<uint8_t> bytes(period_ * frameBytes);
    const ULONG got = capture_.Read(bytes.data(), static_cast<ULONG>(bytes.size()));
    const ULONG width = captureLayout_.subslotBytes;
    const ULONG channels = frameBytes / width;
    for (ULONG f = 0; f < got / frameBytes; ++f) {
      for (ULONG c = 0; c < channels && c < 2; ++c) {
        uint32_t word = 0;
        std::memcpy(&word, bytes.data() + f * frameBytes + c * width, width);
        captured_[c].push_back(word);
      }
    }
  }

  void WritePlaybackPeriod() {
    if (!playback_.Mapped()) return;
    const ULONG frameBytes = playback_.FrameBytes();
    const ULONG width = playbackLayout_.subslotBytes;
    std::vector<uint8_t> bytes(period_ * frameBytes);
    for (ULONG f = 0; f < period_; ++f) {
      for (ULONG c = 0; c < frameBytes / width; ++c) {
        const uint32_t word = constant_ != 0 ? constant_
                                             : sim::devices::PositionSignal::Encode(
                                                   written_ + f, c, playbackLayout_);
        std::memcpy(bytes.data() + f * frameBytes + c * width, &word, width);
      }
    }
    EXPECT_EQ(playback_.Write(bytes.data(), static_cast<ULONG>(bytes.size())), bytes.size());
    written_ += period_;
  }

  AsioClient& client_;
  ClientRing capture_;
  ClientRing playback_;
  ULONG period_;
  uint64_t written_ = 0;
  uint32_t constant_ = 0;
  SampleLayout playbackLayout_;
  SampleLayout captureLayout_;
  std::vector<uint32_t> captured_[2];
};

class AsioStreamingTest : public AsioChannelTest {
 protected:
  void PlugWithWave(std::string_view name) {
    Plug(name);
    RegisterWaveInterface();
  }

  // A duplex stream of `period` frames started and armed, with the client's events.
  StreamingClient StartDuplex(AsioClient& client, ULONG period) {
    client.CreateEvents();
    StreamingClient streaming(client, StartStream(client, Duplex(period, client)), period);
    streaming.Restart();
    EXPECT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
    return streaming;
  }

  void ExpectCaptureClean(const StreamingClient& streaming, SampleLayout layout) {
    for (unsigned channel = 0; channel < 2; ++channel) {
      const auto seen = sim::devices::CheckContinuity(streaming.Captured(channel), channel, layout);
      EXPECT_TRUE(seen.Clean()) << "capture channel " << channel << ": first break at "
                                << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                                << seen.repeats;
      EXPECT_GT(seen.frames, 0u);
    }
  }

  void ExpectPlaybackClean(SampleLayout layout) {
    for (unsigned channel = 0; channel < 2; ++channel) {
      const auto seen = engine::testing::SinkContinuity(Sink(), channel, layout);
      EXPECT_TRUE(seen.Clean()) << "playback channel " << channel << ": first break at "
                                << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                                << seen.repeats;
      EXPECT_GT(seen.frames, 0u);
    }
  }
};

class AsioDuplexTest : public AsioStreamingTest, public ::testing::WithParamInterface<ULONG> {};

TEST_P(AsioDuplexTest, PlaysAndRecordsBitExact) {
  const ULONG period = GetParam();
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    StreamingClient streaming = StartDuplex(client, period);
    const SampleLayout playback = DeviceLayout(kDirectionPlayback);
    const SampleLayout capture = DeviceLayout(kDirectionCapture);
    const uint64_t rate = Adapter()->FixedRate();
    const uint64_t seconds = kProofMs / 1000;
    ASSERT_TRUE(streaming.Run(rate * seconds, playback, capture));
    EXPECT_EQ(client.Word(IOCTL_ASIO_GET_INTERRUPTED), 0u);
    LONGLONG start = 0;
    EXPECT_EQ(client.Send(IOCTL_ASIO_GET_START_TIME, nullptr, 0, &start, sizeof start).bytes, 8u);
    EXPECT_GT(start, 0);
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    client.Close();
    client.CloseEvents();
    // A minute of each, less what was still on its way.
    EXPECT_GE(streaming.Captured(0).size() + 2 * period + 768, seconds * rate);
    EXPECT_GE(Sink().Samples(0).size() + 2 * period + 768 * 2, seconds * rate);
    ExpectCaptureClean(streaming, capture);
    ExpectPlaybackClean(playback);
  });
}

INSTANTIATE_TEST_SUITE_P(Periods, AsioDuplexTest, ::testing::Values(4u, 64u, 2048u),
                         [](const auto& value) { return "Period" + std::to_string(value.param); });

TEST_F(AsioStreamingTest, PlaysAloneOnAPlaybackOnlyDevice) {
  PlugWithWave("uac2-playback-only");
  AsUser([&] {
    AsioClient client;
    client.CreateEvents();
    EXPECT_EQ(client.Open(WavePath()), STATUS_SUCCESS);
    EXPECT_EQ(client.Status(IOCTL_ASIO_ACQUIRE), STATUS_SUCCESS);
    // Free-rate mode: the client sets the rate first.
    const ULONG rate = 48000;
    EXPECT_EQ(client.Send(IOCTL_ASIO_SET_RATE, &rate, sizeof rate).status, STATUS_SUCCESS);
    PrepareRequest request = Duplex(64, client);
    request.captureWanted = 0;
    PrepareResult rings = {};
    ASSERT_EQ(client.Send(IOCTL_ASIO_PREPARE, &request, sizeof request, &rings, sizeof rings).status,
              STATUS_SUCCESS);
    EXPECT_EQ(rings.captureRing, 0u);
    ASSERT_EQ(client.Status(IOCTL_ASIO_START), STATUS_SUCCESS);
    StreamingClient streaming(client, rings, 64);
    streaming.Restart();
    EXPECT_EQ(streaming.PlaybackRing().Fill(), 0u) << "playback alone is not prefilled";
    ASSERT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
    const SampleLayout playback = DeviceLayout(kDirectionPlayback);
    ASSERT_TRUE(streaming.Run(rate * 2, playback, {}));
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    client.Close();
    client.CloseEvents();
    ExpectPlaybackClean(playback);
  });
}

// DSD at 2.8224 MHz: the device runs at 88200 words a second, the rings idle with the DSD fill
// byte, and the client's words reach the device as they are. The device's rate comes from its
// stored setting, or from the client, which asks for it over the channel as an ASIO driver in
// DSD mode does (the DSD rate / 32): the device, its stored setting and the operating system's
// endpoint all move to it.
class AsioDsdTest : public AsioStreamingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AsioDsdTest, PlaysDsdAt2822400HzWithTheWordsUntouched) {
  constexpr ULONG kWordRate = 2822400 / 32;
  const bool rateFromClient = GetParam();
  machine->PresetHardwareDword(u"SampleRate", rateFromClient ? 48000 : kWordRate);
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    client.CreateEvents();
    if (rateFromClient) {
      ASSERT_EQ(client.Open(WavePath()), STATUS_SUCCESS);
      ASSERT_EQ(client.Send(IOCTL_ASIO_SET_RATE, &kWordRate, sizeof kWordRate).status,
                STATUS_SUCCESS);
      client.Close();
    }
    EXPECT_EQ(Adapter()->FixedRate(), kWordRate);
    PrepareRequest request = Duplex(64, client);
    request.captureWanted = 0;
    request.dsd = 1;
    const PrepareResult rings = StartStream(client, request);
    EXPECT_EQ(rings.captureRing, 0u);
    const ClientRing ring(rings.playbackRing);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(ring.Header() + 1);
    EXPECT_EQ(data[0], ASIO_DSD_FILL_BYTE);
    EXPECT_EQ(data[ring.RingBytes() - 1], ASIO_DSD_FILL_BYTE);
    StreamingClient streaming(client, rings, 64);
    streaming.Restart();
    ASSERT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
    const SampleLayout playback = DeviceLayout(kDirectionPlayback);
    const uint8_t number = Adapter()->Model().PlaybackInterface()->InterfaceNumber;
    EXPECT_EQ(Device()->StreamKind(number), kStreamKindDsd);
    // The 44.1 kHz family's clock source runs it.
    EXPECT_EQ(Device()->Controls().ClockRate(1), kWordRate);
    ASSERT_TRUE(streaming.Run(kWordRate, playback, {}));
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    client.Close();
    client.CloseEvents();
    // Before and after the client's words the device idles with the DSD fill.
    constexpr uint32_t kIdle = 0x96969696;
    for (unsigned channel = 0; channel < 2; ++channel) {
      std::vector<uint32_t> words = Sink().Samples(channel);
      const auto first = std::find_if(words.begin(), words.end(), [](uint32_t w) { return w != kIdle; });
      words.erase(words.begin(), first);
      while (!words.empty() && (words.back() == kIdle || words.back() == 0)) words.pop_back();
      const auto seen = sim::devices::CheckContinuity(words, channel, playback);
      EXPECT_TRUE(seen.Clean()) << "channel " << channel << ": first break at " << seen.firstBreak;
      EXPECT_EQ(seen.firstFrame, 0u) << "channel " << channel << ": the client's first word";
      EXPECT_GT(seen.frames, 80000u);
    }
  });
  // Unprepared, the device is back to PCM; the rate stays, stored for the next start.
  EXPECT_EQ(Device()->StreamKind(Adapter()->Model().PlaybackInterface()->InterfaceNumber),
            kStreamKindPcm);
  ULONG type = 0;
  std::vector<uint8_t> stored;
  ASSERT_TRUE(machine->HardwareValue(u"SampleRate", &type, &stored));
  ASSERT_EQ(stored.size(), sizeof(ULONG));
  ULONG rate = 0;
  std::memcpy(&rate, stored.data(), sizeof rate);
  EXPECT_EQ(rate, kWordRate);
}

INSTANTIATE_TEST_SUITE_P(RateSetBy, AsioDsdTest, ::testing::Bool(), [](const auto& value) {
  return value.param ? std::string("TheClient") : std::string("TheStoredSetting");
});

// The operating-system stream and an ASIO stream share the device: their playback reaches it
// summed (the OS stream's 16-bit signal in the upper half, the ASIO client's constant in the
// lower), and each capture gets the device's signal whole.
TEST_F(AsioStreamingTest, AnOsStreamAndAnAsioStreamShareTheDevice) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  const ULONG rate = Adapter()->FixedRate();
  engine::testing::FakeMiniport miniport(Adapter(), {2, 16}, 2, 8);
  SampleLayout capture = {};
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    ASSERT_EQ(adapter->RegisterMiniport(&miniport), STATUS_SUCCESS);
    ASSERT_EQ(adapter->SetOsFormat(kDirectionPlayback, 1, 2, 16, rate), STATUS_SUCCESS);
    ASSERT_EQ(adapter->SetOsFormat(kDirectionCapture, 1, 2, 32, rate), STATUS_SUCCESS);
    ASSERT_EQ(adapter->StartOsDirection(kDirectionCapture, 8 * rate / 100), STATUS_SUCCESS);
    ASSERT_EQ(adapter->StartOsDirection(kDirectionPlayback, 4 * rate / 100), STATUS_SUCCESS);
    capture = DeviceLayout(kDirectionCapture);
  });
  constexpr uint32_t kAsioWord = 0x1234;
  AsUser([&] {
    AsioClient client;
    StreamingClient streaming = StartDuplex(client, 64);
    streaming.PlayConstant(kAsioWord);
    ASSERT_TRUE(streaming.Run(rate * 3, DeviceLayout(kDirectionPlayback), capture));
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    client.Close();
    client.CloseEvents();
    ExpectCaptureClean(streaming, capture);
  });
  InKernel([&] {
    IUsbAudioAdapter* adapter = Adapter();
    adapter->StopOsDirection(kDirectionPlayback);
    adapter->StopOsDirection(kDirectionCapture);
    adapter->ClearOsFormat(kDirectionPlayback);
    adapter->ClearOsFormat(kDirectionCapture);
    adapter->UnregisterMiniport(&miniport);
  });
  for (unsigned channel = 0; channel < 2; ++channel) {
    SCOPED_TRACE(channel);
    const auto& words = Sink().Samples(channel);
    std::vector<uint32_t> os;
    uint64_t summed = 0;
    for (uint32_t word : words) {
      os.push_back(word & 0xFFFF0000u);
      summed += (word & 0xFFFFu) == kAsioWord && (word & 0xFFFF0000u) != 0;
    }
    while (!os.empty() && os.back() == 0) os.pop_back();
    const auto seen = sim::devices::CheckContinuity(os, channel, {4, 16});
    EXPECT_TRUE(seen.Clean()) << "first break at " << seen.firstBreak;
    EXPECT_GT(summed, 2u * rate);
    const auto recorded =
        sim::devices::CheckContinuity(miniport.CapturedChannel(channel), channel, capture);
    EXPECT_TRUE(recorded.Clean());
    EXPECT_GT(recorded.frames, 2u * rate);
  }
}

// A failed transfer breaks the stream off: the client sees the interrupted word, restarts in
// place (stop, start, arm) and streams on.
TEST_F(AsioStreamingTest, AFailedTransferInterruptsAndTheClientRestarts) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    StreamingClient streaming = StartDuplex(client, 64);
    const SampleLayout playback = DeviceLayout(kDirectionPlayback);
    const SampleLayout capture = DeviceLayout(kDirectionCapture);
    ASSERT_TRUE(streaming.Run(4800, playback, capture));
    for (ULONG code : {IOCTL_ASIO_FAIL_NEXT_CAPTURE, IOCTL_ASIO_FAIL_NEXT_PLAYBACK}) {
      SCOPED_TRACE(::testing::Message() << std::hex << code);
      ASSERT_EQ(client.Status(code), STATUS_SUCCESS);
      bool seen = false;
      ASSERT_TRUE(streaming.Run(4800, playback, capture, [&] {
        seen = seen || streaming.CaptureRing().Header()->interrupted != 0;
      }));
      EXPECT_TRUE(seen);
      EXPECT_EQ(client.Word(IOCTL_ASIO_GET_INTERRUPTED), 1u);
      EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
      EXPECT_EQ(client.Word(IOCTL_ASIO_GET_INTERRUPTED), 0u);
      EXPECT_EQ(client.Status(IOCTL_ASIO_START), STATUS_SUCCESS);
      streaming.Restart();
      EXPECT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
      ASSERT_TRUE(streaming.Run(4800, playback, capture));
      EXPECT_EQ(client.Word(IOCTL_ASIO_GET_INTERRUPTED), 0u);
    }
    client.Close();
    client.CloseEvents();
  });
}

// A client that stops serving its rings for a while, as a host stalled in its buffer switch, is
// heard again once it goes on: what it owed the transfers that left meanwhile is dropped.
TEST_F(AsioStreamingTest, AClientThatFellBehindIsHeardAgain) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  const uint64_t before = 4800;
  SampleLayout playback;
  AsUser([&] {
    AsioClient client;
    StreamingClient streaming = StartDuplex(client, 64);
    playback = DeviceLayout(kDirectionPlayback);
    const SampleLayout capture = DeviceLayout(kDirectionCapture);
    ASSERT_TRUE(streaming.Run(before, playback, capture));
    LARGE_INTEGER stall;
    stall.QuadPart = -50 * 10000;
    KeDelayExecutionThread(UserMode, FALSE, &stall);
    ASSERT_TRUE(streaming.Run(9600, playback, capture));
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    client.Close();
    client.CloseEvents();
  });
  // The device's last frames are those the client wrote well after the stall.
  std::vector<uint32_t> words = Sink().Samples(0);
  while (!words.empty() && words.back() == 0) words.pop_back();
  ASSERT_FALSE(words.empty());
  EXPECT_GT(sim::devices::PositionSignal::DecodeFrame(words.back(), playback), before + 4800);
}

TEST_F(AsioStreamingTest, ADevicePulledMidStreamInterruptsTheStream) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  PEPROCESS process = StartProcess();
  AsioClient client;
  PrepareResult rings = {};
  InProcess(process, [&] {
    client.CreateEvents();
    rings = StartStream(client, Duplex(64, client));
    ASSERT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
  });
  RunMs(50);
  machine->SurpriseRemoveDevice();
  RunMs(50);
  InProcess(process, [&] {
    EXPECT_EQ(client.Word(IOCTL_ASIO_GET_INTERRUPTED), 1u);
    EXPECT_EQ(ClientRing(rings.captureRing).Header()->interrupted, 1u);
    client.Close();
    client.CloseEvents();
  });
  EndProcess(process);
  EXPECT_TRUE(kernel().machine().userMappings().All().empty());
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
}

// The client writes hostile values into every header field of both rings, over and over, while
// the stream runs: the driver keeps every copy inside its rings (the sanitizers watch), keeps
// streaming, and stops and unmaps cleanly.
TEST_F(AsioStreamingTest, AScribblingClientCannotMoveTheDriverOutsideItsRings) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    StreamingClient streaming = StartDuplex(client, 64);
    const ULONG hostile[] = {0,          1,          3,          0x7FFFFFFF, 0x80000000,
                             0xFFFFFFFF, 0xFFFFFFFD, 0x10000000, 3072 * 8,   3072 * 8 + 1};
    std::mt19937 random(19);
    SharedRingHeader* headers[] = {streaming.CaptureRing().Header(),
                                   streaming.PlaybackRing().Header()};
    const auto scribble = [&] {
      for (SharedRingHeader* header : headers) {
        for (int i = 0; i < 4; ++i) {
          const ULONG value = hostile[random() % std::size(hostile)];
          std::memcpy(reinterpret_cast<uint8_t*>(header) + 4 * (random() % 7), &value, 4);
        }
      }
    };
    // The client's own copies keep it inside the rings too; what it reads is garbage.
    for (int round = 0; round < 200; ++round) {
      ASSERT_TRUE(client.WaitPeriod(1000));
      scribble();
      client.SignalOutput();
    }
    EXPECT_EQ(client.Status(IOCTL_ASIO_NOP), STATUS_SUCCESS);
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    EXPECT_EQ(client.Status(IOCTL_ASIO_START), STATUS_SUCCESS);
    EXPECT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
    EXPECT_TRUE(client.WaitPeriod(1000)) << "the stream runs again after a stop";
    client.Close();
    client.CloseEvents();
  });
  EXPECT_TRUE(kernel().machine().userMappings().All().empty());
}

// Without events a stream still runs: the driver skips the signals it cannot give, and the
// engine pulls playback as it adds transfers.
TEST_F(AsioStreamingTest, AStreamPreparedWithoutEventsRunsWithoutSignals) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    PrepareRequest request = Duplex(64, client);
    request.periodEvent = request.outputEvent = 0;
    const PrepareResult rings = StartStream(client, request);
    ASSERT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
    ClientRing capture(rings.captureRing);
    // The client polls: capture keeps coming in.
    LARGE_INTEGER interval;
    interval.QuadPart = -100 * 10000;
    KeDelayExecutionThread(UserMode, FALSE, &interval);
    EXPECT_GT(capture.Fill(), 0u);
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    client.Close();
  });
}

}  // namespace
}  // namespace tarnlink::asioctl::testing
