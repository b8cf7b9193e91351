// Streams through the real engine on the simulated bus: what the device plays is the source's
// position signal, bit-exact and gap-free, and what it captures arrives the same way.
#include <algorithm>
#include <memory>
#include <vector>

#include "engine_trace_points.h"
#include "stream_fixture.h"

namespace tarnlink::engine::testing {
namespace {

TEST_F(StreamTest, PlaybackAtEveryRateAndCrystalErrorIsBitExactWithoutFifoFaults) {
  struct Case {
    ULONG rate;
    double ppm;
  };
  const Case cases[] = {{44100, 100},  {96000, -100}, {192000, 100},
                        {384000, -100}, {768000, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, " << c.ppm << " ppm");
    machine->PresetHardwareDword(u"SampleRate", c.rate);
    Plug("velmor-dac", [&](sim::devices::DeviceBehaviour& b) {
      b.crystalPpm = c.ppm;
      b.keepSamples = false;  // a minute at 768 kHz: the device checks as it receives
    });
    StartPlayback({StreamUser::Os}, false);
    const auto counters = RunStreaming(kProofMs);
    ExpectPlayedCleanSoFar();
    EXPECT_GT(counters.framesPlayed, uint64_t{c.rate} * (kProofMs - 1000) / 1000);
    StopStreams();
    ExpectNoFifoFaults(counters);
    EXPECT_EQ(Engine().Recoveries(kDirectionPlayback), 0u);
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, DuplexWithCaptureClockedPlaybackAndTwoCaptureFeeds) {
  Plug("velmor-dac");
  StartCapture({StreamUser::Os, StreamUser::Asio});
  StartPlayback({StreamUser::Os}, true);
  const auto counters = RunStreaming(kProofMs);
  StopStreams();
  ExpectPlaybackClean();
  ExpectCaptureClean(StreamUser::Os);
  ExpectCaptureClean(StreamUser::Asio);
  ExpectNoFifoFaults(counters);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, RefillingEngineStaysInStepWithCapture) {
  Plug("velmor-dac");
  StartPlayback({StreamUser::Asio}, true);
  const auto counters = RunStreaming(5000);
  StopStreams();
  ExpectPlaybackClean();
  ExpectNoFifoFaults(counters);
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, OtherDevicesPlayBitExact) {
  struct Case {
    std::string_view device;
    ULONG osBits;  // playback-only devices play at the operating-system stream's format
    ULONG osRate;
  };
  // 44.1 kHz on full speed is the rate pattern's case: 44 frames a packet, and 45 every tenth.
  const Case cases[] = {{"uac1-speaker", 16, 44100},
                        {"uac2-playback-only", 32, 48000},
                        {"uac1-headset", 0, 0},
                        {"uac2-implicit", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    Plug(c.device, [](sim::devices::DeviceBehaviour& b) { b.keepSamples = false; });
    if (c.osBits != 0) {
      InKernel([&] {
        EXPECT_EQ(Adapter()->SetOsFormat(kDirectionPlayback, 1, 2, c.osBits, c.osRate),
                  STATUS_SUCCESS);
      });
    }
    StartPlayback({StreamUser::Os}, false);
    const auto counters = RunStreaming(kProofMs);
    ExpectPlayedCleanSoFar();
    EXPECT_GT(counters.framesPlayed,
              uint64_t{Engine().UsbFormatOf(kDirectionPlayback).Rate} * (kProofMs - 1000) / 1000);
    StopStreams();
    ExpectNoFifoFaults(counters);
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(StreamTest, TwoPlaybackEnginesReachTheDeviceAsTheirSaturatedSum) {
  struct Case {
    uint32_t constant;  // what the second engine plays
  };
  // The position code stays far below 2^28 here, so the first sum is exact; the second
  // clips at full scale for every sample but the first few frames.
  for (const Case& c : {Case{1u << 28}, Case{0x7FFFFF00u}}) {
    SCOPED_TRACE(c.constant);
    Plug("velmor-dac");
    InKernel([&] {
      CStreamEngine& engine = Engine();
      ASSERT_EQ(engine.OpenDirection(kDirectionPlayback), STATUS_SUCCESS);
      opened |= 1u << kDirectionPlayback;
      const UsbFormat& usb = engine.UsbFormatOf(kDirectionPlayback);
      ASSERT_EQ(usb.Bits, 32u);
      const auto layout = DeviceLayout(kDirectionPlayback);
      sources[0] = std::make_unique<PositionSource>(usb, false, layout);
      sources[1] = std::make_unique<PositionSource>(usb, false, layout, c.constant);
      for (StreamUser user : {StreamUser::Asio, StreamUser::Os}) {
        engine.PlaybackEngineOf(user).SetSource(sources[Value(user)].get());
        ASSERT_EQ(engine.StartPlaybackEngine(user), STATUS_SUCCESS);
      }
    });
    ExpectNoFifoFaults(RunStreaming(2000));
    StopStreams();
    const auto layout = sources[0]->Layout();
    for (unsigned channel = 0; channel < 2; ++channel) {
      const auto& words = Sink().Samples(channel);
      // Each engine writes every transfer from the one in which it was started on: after the
      // leading silence either engine may play alone for a few transfers (the other one's
      // first transfer came a little later), and from the first sum on every sample is a sum.
      size_t i = 0;
      while (i < words.size() && words[i] == 0) ++i;
      ASSERT_LT(i, words.size());
      while (i < words.size() && words[i] == c.constant) ++i;
      ASSERT_LT(i, words.size());
      // The position codes stay below the constant; the first sums are of low frames, which
      // never clip.
      const uint32_t lead = words[i] < c.constant ? words[i] : words[i] - c.constant;
      const uint64_t first = sim::devices::PositionSignal::DecodeFrame(lead, layout);
      uint64_t sums = 0;
      // The engines also stop one after the other: either may play alone at the end.
      bool tail = false;
      for (uint64_t frame = first; i < words.size() && words[i] != 0; ++i, ++frame) {
        const uint64_t code = sim::devices::PositionSignal::Encode(frame, channel, layout);
        const uint64_t sum = std::min<uint64_t>(code + c.constant, 0x7FFFFFFF);
        if (sums == 0 && words[i] == code) continue;
        tail = tail || (sums != 0 && words[i] != sum);
        if (tail) {
          ASSERT_TRUE(words[i] == code || words[i] == c.constant) << "sample " << i;
        } else {
          ASSERT_EQ(words[i], sum) << "channel " << channel << " sample " << i;
          ++sums;
        }
      }
      EXPECT_GT(sums, 80000u);
    }
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

// The dump setting writes every playback transfer to the trace log as it goes out: read back
// record by record, the log holds the position signal the device is sent, in order. At
// 44.1 kHz every tenth transfer carries 45 frames, 360 bytes: its last record is half full.
TEST_F(StreamTest, TheDumpSettingTracesEveryPlaybackTransfer) {
  for (const ULONG setting : {0xFFFFFFFEu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(setting);
    kernel().ClearTrace();
    machine->PresetHardwareDword(u"SampleRate", 44100);
    machine->PresetHardwareDword(u"gDumpCapture", setting);
    Plug("velmor-dac");
    StartPlayback({StreamUser::Os}, false);
    RunMs(100);
    std::vector<uint32_t> words[2];
    size_t records = 0;
    for (const auto& entry : kernel().Trace()) {
      if (entry.id != kTracePlaybackDump) continue;
      ++records;
      const uint64_t offset = entry.arguments[0];
      const uint64_t length = entry.arguments[1];
      for (uint64_t i = 0; i < 4 && offset + 4 * i < length; ++i) {
        // Records are whole frames of two 32-bit samples.
        words[(offset / 4 + i) % 2].push_back(static_cast<uint32_t>(entry.arguments[2 + i]));
      }
    }
    StopStreams();
    if (setting != 0xFFFFFFFEu) {
      EXPECT_EQ(records, 0u);
    } else {
      for (unsigned channel = 0; channel < 2; ++channel) {
        const auto seen = sim::devices::CheckContinuity(words[channel], channel, {4, 32});
        EXPECT_TRUE(seen.Clean()) << "channel " << channel << " first break " << seen.firstBreak;
        // The trace ring keeps the latest 4096 records: well over a hundred transfers.
        EXPECT_GT(seen.frames, 44u * 50);
      }
    }
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    Reboot();
  }
}

// DSD64: 32-bit words of one-bit samples at 2.8224 MHz / 32 on the bus. The device idles on the
// DSD fill until a source plays, and then receives the source's words untouched: they replace
// the fill, never add to it.
TEST_F(StreamTest, DsdStreamKindReachesTheDeviceWhichIdlesWithTheDsdFillAndPlaysWordsUntouched) {
  constexpr ULONG kDsd64WordRate = 2822400 / 32;
  constexpr uint32_t kIdleWord = 0x96969696;
  machine->PresetHardwareDword(u"SampleRate", kDsd64WordRate);
  Plug("velmor-dac");
  InKernel([&] {
    CStreamEngine& engine = Engine();
    EXPECT_EQ(engine.SetStreamKind(kStreamKindDsd), STATUS_SUCCESS);
    EXPECT_EQ(Device()->StreamKind(Adapter()->Model().PlaybackInterface()->InterfaceNumber),
              kStreamKindDsd);
    ASSERT_EQ(engine.OpenDirection(kDirectionPlayback), STATUS_SUCCESS);
    opened |= 1u << kDirectionPlayback;
    // The kind cannot change under an open direction.
    EXPECT_EQ(engine.SetStreamKind(kStreamKindPcm), STATUS_DEVICE_BUSY);
  });
  RunMs(500);
  EXPECT_GT(Sink().Counters().dsdIdleWords, 1000u);
  InKernel([&] {
    CStreamEngine& engine = Engine();
    const UsbFormat& usb = engine.UsbFormatOf(kDirectionPlayback);
    EXPECT_EQ(usb.Rate, kDsd64WordRate);
    ASSERT_EQ(usb.Bits, 32u);
    sources[0] = std::make_unique<PositionSource>(usb, false, sim::devices::SampleLayout{4, 32});
    sources[0]->PlayDsd();
    engine.PlaybackEngineOf(StreamUser::Asio).SetSource(sources[0].get());
    ASSERT_EQ(engine.StartPlaybackEngine(StreamUser::Asio), STATUS_SUCCESS);
  });
  ExpectNoFifoFaults(RunStreaming(2000));
  StopStreams();
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto& words = Sink().Samples(channel);
    const auto begin = std::find_if(words.begin(), words.end(),
                                     [&](uint32_t word) { return word != kIdleWord; });
    const auto end = std::find(begin, words.end(), kIdleWord);
    const auto seen = sim::devices::CheckContinuity({begin, end}, channel, sources[0]->Layout());
    EXPECT_TRUE(seen.Clean()) << "channel " << channel << " first break " << seen.firstBreak;
    EXPECT_GT(seen.frames, kDsd64WordRate * 19 / 10);
    // Once the source stops the device idles again.
    EXPECT_TRUE(std::all_of(end, words.end(), [&](uint32_t word) { return word == kIdleWord; }));
  }
  InKernel([&] { EXPECT_EQ(Engine().SetStreamKind(kStreamKindPcm), STATUS_SUCCESS); });
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
}  // namespace tarnlink::engine::testing
