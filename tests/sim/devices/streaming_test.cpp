#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "sim/devices/byte_writer.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/playback_sink.h"
#include "tests/sim/devices/device_host.h"

namespace sim::devices {
namespace {

using testing::DeviceHost;
using testing::Le;

// Sets the rate on a clock source that offers it and routes every selector to that source.
void RouteClock(UacDevice& device, DeviceHost& host, uint32_t rate) {
  const std::vector<EntitySpec>& entities = device.Spec().entities;
  const ClockSourceSpec* source = nullptr;
  for (const EntitySpec& e : entities) {
    const auto* c = std::get_if<ClockSourceSpec>(&e);
    if (!source && c && std::count(c->rates.begin(), c->rates.end(), rate)) source = c;
  }
  ASSERT_NE(source, nullptr);
  ASSERT_TRUE(host.Out(0x21, 1, 0x0100, source->bClockID << 8, Le(rate, 4)));
  for (const EntitySpec& e : entities) {
    const auto* selector = std::get_if<ClockSelectorSpec>(&e);
    if (!selector) continue;
    for (size_t pin = 0; pin < selector->baCSourceID.size(); ++pin) {
      if (selector->baCSourceID[pin] != source->bClockID) continue;
      ASSERT_TRUE(
          host.Out(0x21, 1, 0x0100, selector->bClockID << 8, {static_cast<uint8_t>(pin + 1)}));
    }
  }
}

// Brings a device to streaming: configuration, the clock (Audio 2.0) or endpoint rate (1.0),
// the alternate setting, and the wait for a valid clock a careful host does.
void Prepare(UacDevice& device, DeviceHost& host, uint8_t interface, uint8_t alt, uint32_t rate) {
  host.Configure();
  const StreamingInterfaceSpec& s = *std::find_if(
      device.Spec().streams.begin(), device.Spec().streams.end(),
      [&](const StreamingInterfaceSpec& x) { return x.bInterfaceNumber == interface; });
  if (device.Spec().version == UacVersion::Uac2) {
    RouteClock(device, host, rate);
    ASSERT_TRUE(host.SetInterface(interface, alt));
    const std::optional<uint8_t> clock = device.Controls().TerminalClock(s.bTerminalLink);
    ASSERT_TRUE(clock.has_value());
    while (!device.Controls().ClockValid(*clock, host.Time().Nanoseconds())) host.Tick();
  } else {
    ASSERT_TRUE(host.SetInterface(interface, alt));
    ASSERT_TRUE(host.Out(0x22, 1, 0x0100, s.alts[alt - 1].data.bEndpointAddress, Le(rate, 3)));
  }
  host.Tick();
}

struct FeedbackCase {
  const char* device;
  uint8_t alt;
  uint32_t rate;
};

class ExplicitFeedback : public ::testing::TestWithParam<FeedbackCase> {};

// A host that paces playback only by the feedback it reads keeps the device's FIFO fed for a
// simulated minute, and the feedback it read averages the device's true rate.
TEST_P(ExplicitFeedback, FollowsTheDeviceClockForAMinute) {
  const FeedbackCase& c = GetParam();
  const CatalogueEntry& entry = *FindCatalogueEntry(c.device);
  UacDevice device(entry.spec, entry.behaviour);
  DeviceHost host(device);
  Prepare(device, host, 1, c.alt, c.rate);
  const AltSettingSpec& alt = entry.spec.streams[0].alts[c.alt - 1];
  ASSERT_TRUE(alt.feedback.has_value());
  const bool high = entry.spec.speed == UsbSpeed::High;
  const uint32_t tps = high ? 8000 : 1000;
  const uint64_t pollEvery =
      alt.feedback->bInterval <= 1 || !high ? 1 : uint64_t{1} << (alt.feedback->bInterval - 1);
  const uint32_t frameBytes = alt.FrameBytes();
  const SampleLayout layout{alt.bSubslotSize, alt.bBitResolution};

  uint32_t feedback = 0;
  uint64_t accumulator = 0, sent = 0, sum = 0, reads = 0;
  const uint64_t settle = 5ull * tps, total = 60ull * tps;
  std::vector<uint8_t> packet;
  for (uint64_t t = 0; t < total; ++t) {
    host.Tick();
    if (t % pollEvery == 0) {
      std::vector<uint8_t> raw(4);
      const IsoInResult r = device.IsoIn(host.Time(), alt.feedback->bEndpointAddress, raw);
      ASSERT_EQ(r.status, IsoStatus::Ok);
      ASSERT_EQ(r.length, high ? 4u : 3u);
      feedback = high ? ReadLe(raw.data(), 4) : ReadLe(raw.data(), 3) << 2;
      if (t >= settle) {
        sum += feedback;
        ++reads;
      }
    }
    accumulator += feedback;
    const uint32_t frames = static_cast<uint32_t>(accumulator >> 16);
    accumulator &= 0xFFFF;
    packet.assign(frames * frameBytes, 0);
    for (uint32_t f = 0; f < frames; ++f, ++sent)
      for (unsigned ch = 0; ch < alt.bNrChannels; ++ch) {
        const uint32_t word = PositionSignal::Encode(sent, ch, layout);
        for (unsigned b = 0; b < alt.bSubslotSize; ++b)
          packet[(f * alt.bNrChannels + ch) * alt.bSubslotSize + b] =
              static_cast<uint8_t>(word >> (8 * b));
      }
    ASSERT_EQ(device.IsoOut(host.Time(), alt.data.bEndpointAddress, packet), IsoStatus::Ok);
  }
  const double trueRate = c.rate * (1 + entry.behaviour.crystalPpm * 1e-6);
  const double average = static_cast<double>(sum) / reads * tps / 65536.0;
  EXPECT_NEAR(average, trueRate, 1.0);
  const PlaybackSink& sink = *device.Sink(1);
  EXPECT_EQ(sink.Counters().underruns, 0u);
  EXPECT_EQ(sink.Counters().overruns, 0u);
  EXPECT_EQ(device.ViolationCount(), 0u) << device.Violations().front();
  for (unsigned ch = 0; ch < alt.bNrChannels; ++ch) {
    const Continuity check = sink.Check(ch);
    EXPECT_TRUE(check.Clean());
    EXPECT_EQ(check.frames, sent);
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, ExplicitFeedback,
                         ::testing::Values(FeedbackCase{"velmor-dac", 3, 48000},
                                           FeedbackCase{"velmor-dac", 2, 44100},
                                           FeedbackCase{"uac1-headset", 1, 44100},
                                           FeedbackCase{"uac2-playback-only", 1, 96000},
                                           FeedbackCase{"uac2-slow-feedback", 1, 48000}),
                         [](const ::testing::TestParamInfo<FeedbackCase>& param) {
                           std::string name = param.param.device;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name + "_" + std::to_string(param.param.rate);
                         });

// Capture packets, one per (micro)frame, carry what the device clock produced: their sizes sum
// to the clock's true rate and stay within the window a host may expect.
TEST(Capture, PacketSizesFollowTheDeviceClock) {
  struct Case {
    const char* device;
    uint8_t interface, alt;
    uint32_t rate;
    uint32_t spreadFrames;
  };
  const Case cases[] = {{"velmor-dac", 2, 3, 48000, 1},
                        {"uac2-implicit", 2, 1, 44100, 1},
                        {"uac1-headset", 2, 1, 48000, 1},
                        {"quirk-wide-window", 2, 1, 48000, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    const CatalogueEntry& entry = *FindCatalogueEntry(c.device);
    UacDevice device(entry.spec, entry.behaviour);
    DeviceHost host(device);
    Prepare(device, host, c.interface, c.alt, c.rate);
    const StreamingInterfaceSpec& s = entry.spec.streams[c.interface - 1];
    const AltSettingSpec& alt = s.alts[c.alt - 1];
    const uint32_t tps = entry.spec.speed == UsbSpeed::High ? 8000 : 1000;
    const double perTick = c.rate / static_cast<double>(tps);
    std::vector<uint8_t> buffer(alt.data.Capacity());
    std::vector<uint32_t> channel0;
    uint64_t frames = 0;
    const uint64_t seconds = 10;
    for (uint64_t t = 0; t < seconds * tps; ++t) {
      host.Tick();
      const IsoInResult r = device.IsoIn(host.Time(), alt.data.bEndpointAddress, buffer);
      ASSERT_EQ(r.status, IsoStatus::Ok);
      ASSERT_EQ(r.length % alt.FrameBytes(), 0u);
      const uint32_t n = static_cast<uint32_t>(r.length / alt.FrameBytes());
      EXPECT_GE(n + c.spreadFrames, std::floor(perTick)) << "tick " << t;
      EXPECT_LE(n, std::ceil(perTick) + c.spreadFrames) << "tick " << t;
      for (uint32_t f = 0; f < n; ++f)
        channel0.push_back(ReadLe(buffer.data() + f * alt.FrameBytes(), alt.bSubslotSize));
      frames += n;
    }
    const double trueRate = c.rate * (1 + entry.behaviour.crystalPpm * 1e-6);
    EXPECT_NEAR(frames, trueRate * seconds, c.spreadFrames + 1.0);
    const Continuity check = CheckContinuity(channel0, 0, {alt.bSubslotSize, alt.bBitResolution});
    EXPECT_TRUE(check.Clean());
    // Only what was sampled before the first poll is lost.
    EXPECT_LE(device.Source(c.interface)->FramesDropped(), 2 * std::ceil(perTick));
  }
}

TEST(Capture, AHostThatPollsLateSeesTheLostFramesAsAGap) {
  auto velmor = MakeCatalogueDevice(kDefaultDeviceName);
  DeviceHost host(*velmor);
  Prepare(*velmor, host, 2, 1, 48000);
  std::vector<uint8_t> buffer(velmor->Spec().streams[1].alts[0].data.Capacity());
  std::vector<uint32_t> channel1;
  for (int t = 0; t < 100; ++t) {
    host.Tick();
    if (t >= 40 && t < 45) continue;  // five microframes without an IN token
    const IsoInResult r = velmor->IsoIn(host.Time(), 0x82, buffer);
    for (size_t f = 0; f < r.length / 4; ++f)
      channel1.push_back(ReadLe(buffer.data() + 4 * f + 2, 2));
  }
  const Continuity check = CheckContinuity(channel1, 1, {2, 16});
  EXPECT_EQ(check.gaps, 1u);
  EXPECT_GT(check.framesMissing, 0u);
  EXPECT_EQ(check.framesMissing, 5u * 6);
}

TEST(Playback, RuleBreakingTrafficIsRecorded) {
  auto velmor = MakeCatalogueDevice(kDefaultDeviceName);
  DeviceHost host(*velmor);
  host.Configure();
  const std::vector<uint8_t> six(48, 0);
  EXPECT_EQ(velmor->IsoOut(host.Time(), 0x01, six), IsoStatus::NoResponse);  // setting 0
  std::vector<uint8_t> feedback(4);
  EXPECT_EQ(velmor->IsoIn(host.Time(), 0x81, feedback).status, IsoStatus::NoResponse);
  Prepare(*velmor, host, 1, 3, 48000);
  const size_t before = velmor->ViolationCount();
  EXPECT_EQ(velmor->IsoOut(host.Time(), 0x01, std::vector<uint8_t>(777)), IsoStatus::Babble);
  EXPECT_EQ(velmor->IsoOut(host.Time(), 0x01, std::vector<uint8_t>(50)), IsoStatus::Ok);
  EXPECT_EQ(velmor->IsoOut(host.Time(), 0x01, std::vector<uint8_t>(8 * 9)), IsoStatus::Ok);
  EXPECT_EQ(velmor->IsoOut(host.Time(), 0x01, six), IsoStatus::Ok);
  EXPECT_EQ(velmor->ViolationCount() - before, 3u);
  // A rate change restarts the stream; audio before the clock locks again is refused.
  ASSERT_TRUE(host.Out(0x21, 1, 0x0100, 0x0200, Le(96000, 4)));
  host.Tick();
  velmor->IsoOut(host.Time(), 0x01, std::vector<uint8_t>(96));
  EXPECT_NE(velmor->Violations().back().find("clock is not valid"), std::string::npos);
}

TEST(Playback, UnderrunsAndOverrunsAreCounted) {
  auto velmor = MakeCatalogueDevice(kDefaultDeviceName);
  DeviceHost host(*velmor);
  Prepare(*velmor, host, 1, 3, 48000);
  const std::vector<uint8_t> packet(7 * 8, 0);
  for (int t = 0; t < 800; ++t) {  // 7 frames per microframe where 6 are played
    host.Tick();
    velmor->IsoOut(host.Time(), 0x01, packet);
  }
  EXPECT_GT(velmor->Sink(1)->Counters().overruns, 0u);
  host.Idle(200);
  EXPECT_EQ(velmor->Sink(1)->Counters().underruns, 1u);
  EXPECT_GT(velmor->Sink(1)->Counters().framesMissing, 0u);
}

// The sink checks each channel's position signal as it arrives; it keeps the samples only
// when asked to.
TEST(Playback, SinkChecksPositionsAsTheyArriveAndKeepsSamplesOnlyWhenAsked) {
  const SampleLayout layout{4, 32};
  const auto frames = [&](std::initializer_list<uint64_t> positions) {
    std::vector<uint8_t> bytes;
    for (const uint64_t frame : positions)
      for (unsigned ch = 0; ch < 2; ++ch) {
        const std::vector<uint8_t> word = Le(PositionSignal::Encode(frame, ch, layout), 4);
        bytes.insert(bytes.end(), word.begin(), word.end());
      }
    return bytes;
  };
  for (const bool keep : {false, true}) {
    PlaybackSink sink;
    sink.Start({2, layout, 8000, 64, 8, keep}, ClockTimeline(48000, 0, 0), false);
    sink.Receive(frames({0, 1, 2}), 0);
    sink.Receive(frames({5, 6}), 125000);
    for (unsigned ch = 0; ch < 2; ++ch) {
      const Continuity check = sink.Check(ch);
      EXPECT_EQ(check.frames, 5u);
      EXPECT_EQ(check.gaps, 1u);
      EXPECT_EQ(check.framesMissing, 2u);
      EXPECT_EQ(check.firstBreak, 3);
      EXPECT_EQ(check.wrongChannel, 0u);
    }
    EXPECT_EQ(sink.Samples(1).size(), keep ? 5u : 0u);
  }
}

TEST(Playback, NativeDsdNeeds32BitWordsAndCountsIdle) {
  auto velmor = MakeCatalogueDevice(kDefaultDeviceName);
  DeviceHost host(*velmor);
  host.Configure();
  ASSERT_TRUE(host.Out(0x41, 0, 1, 1));
  Prepare(*velmor, host, 1, 3, 88200);  // DSD64 on the wire: 32-bit words at 88.2 kHz
  const std::vector<uint8_t> idle(11 * 8, 0x96);
  velmor->IsoOut(host.Time(), 0x01, idle);
  EXPECT_EQ(velmor->Sink(1)->Counters().dsdIdleWords, 22u);
  EXPECT_EQ(velmor->ViolationCount(), 0u) << velmor->Violations().front();
  ASSERT_TRUE(host.SetInterface(1, 1));
  EXPECT_NE(velmor->Violations().back().find("native DSD"), std::string::npos);
}

TEST(Playback, LengthHeaderDeviceChecksEveryHeader) {
  auto device = MakeCatalogueDevice("quirk-length-header");
  DeviceHost host(*device);
  Prepare(*device, host, 1, 1, 48000);
  ByteWriter good;
  good.U32(36);
  for (int i = 0; i < 36; ++i) good.U8(0);
  EXPECT_EQ(device->IsoOut(host.Time(), 0x01, good.Get()), IsoStatus::Ok);
  EXPECT_EQ(device->Sink(1)->Counters().framesReceived, 6u);
  std::vector<uint8_t> bad = good.Get();
  bad[0] = 30;
  device->IsoOut(host.Time(), 0x01, bad);
  EXPECT_EQ(device->ViolationCount(), 1u);
  EXPECT_EQ(device->Sink(1)->Counters().framesReceived, 6u);
}

}  // namespace
}  // namespace sim::devices
