#include <gtest/gtest.h>

#include "sim/devices/byte_writer.h"
#include "sim/devices/catalogue.h"
#include "tests/sim/devices/device_host.h"

namespace sim::devices {
namespace {

using testing::DeviceHost;
using testing::Le;

constexpr uint8_t kGet = 0xA1, kSet = 0x21, kCur = 0x01, kRange = 0x02;

uint16_t Entity(uint8_t id) {
  return static_cast<uint16_t>(id << 8);
}  // control interface 0
uint16_t Control(uint8_t selector, uint8_t channel = 0) {
  return static_cast<uint16_t>(selector << 8 | channel);
}
uint32_t Word(const std::vector<uint8_t>& b, size_t at, size_t n) {
  return ReadLe(b.data() + at, n);
}

// Every Audio 2.0 clock source of every catalogue device reports the rates it was given,
// accepts exactly those, and every feature unit answers mute and volume where it says so.
TEST(ClassRequests, Uac2CatalogueClocksAndFeatureUnits) {
  for (const CatalogueEntry& e : Catalogue()) {
    if (e.spec.version != UacVersion::Uac2) continue;
    SCOPED_TRACE(e.name);
    UacDevice device(e.spec, e.behaviour);
    DeviceHost host(device);
    EXPECT_TRUE(host.In(kGet, kRange, Control(1), Entity(1), 2).stalled);  // unconfigured
    host.Configure();
    for (const EntitySpec& entity : e.spec.entities) {
      if (const auto* clock = std::get_if<ClockSourceSpec>(&entity)) {
        const uint16_t id = Entity(clock->bClockID);
        const auto count = host.In(kGet, kRange, Control(1), id, 2);
        ASSERT_EQ(count.data.size(), 2u);
        EXPECT_EQ(Word(count.data, 0, 2), clock->rates.size());
        const auto range = host.In(kGet, kRange, Control(1), id, 1024);
        ASSERT_EQ(range.data.size(), 2 + 12 * clock->rates.size());
        for (size_t i = 0; i < clock->rates.size(); ++i) {
          EXPECT_EQ(Word(range.data, 2 + 12 * i, 4), clock->rates[i]);
          EXPECT_EQ(Word(range.data, 6 + 12 * i, 4), clock->rates[i]);
          EXPECT_EQ(Word(range.data, 10 + 12 * i, 4), 0u);
          EXPECT_TRUE(host.Out(kSet, kCur, Control(1), id, Le(clock->rates[i], 4)));
          EXPECT_EQ(Word(host.In(kGet, kCur, Control(1), id, 4).data, 0, 4), clock->rates[i]);
        }
        EXPECT_FALSE(host.Out(kSet, kCur, Control(1), id, Le(12345, 4)));
        EXPECT_FALSE(host.Out(kSet, kCur, Control(1), id, Le(clock->rates[0], 2)));
        EXPECT_FALSE(host.Out(kSet, kCur, Control(2), id, {1}));  // validity is read-only
        EXPECT_FALSE(host.In(kGet, kCur, Control(2), id, 1).stalled);
        EXPECT_TRUE(host.In(kGet, kCur, Control(3), id, 1).stalled);
      }
      if (const auto* unit = std::get_if<FeatureUnitSpec>(&entity)) {
        const uint16_t id = Entity(unit->bUnitID);
        for (size_t ch = 0; ch < unit->bmaControls.size(); ++ch) {
          const uint8_t c = static_cast<uint8_t>(ch);
          const bool mute = unit->bmaControls[ch] & 0x3, volume = unit->bmaControls[ch] & 0xC;
          EXPECT_EQ(host.Out(kSet, kCur, Control(1, c), id, {1}), mute);
          EXPECT_EQ(host.In(kGet, kCur, Control(1, c), id, 1).data,
                    mute ? std::vector<uint8_t>{1} : std::vector<uint8_t>{});
          const auto range = host.In(kGet, kRange, Control(2, c), id, 8);
          EXPECT_EQ(range.stalled, !volume);
          if (volume) {
            EXPECT_EQ(range.data, ByteWriter().U16(1).U16(0x9C00).U16(0).U16(128).Take());
            EXPECT_TRUE(host.Out(kSet, kCur, Control(2, c), id, Le(0xEC00, 2)));
            EXPECT_EQ(device.Controls().Volume(unit->bUnitID, c), -20 * 256);
          }
        }
        const uint8_t beyond = static_cast<uint8_t>(unit->bmaControls.size());
        EXPECT_TRUE(host.In(kGet, kCur, Control(1, beyond), id, 1).stalled);
      }
    }
    EXPECT_TRUE(host.In(kGet, kCur, Control(1), Entity(0x77), 4).stalled);   // no such entity
    EXPECT_TRUE(host.In(kGet, kCur, Control(1), Entity(1) | 1, 4).stalled);  // not the AC interface
  }
}

class VelmorRequests : public ::testing::Test {
 protected:
  void SetUp() override { host_.Configure(); }
  bool Valid(uint8_t clock) { return host_.In(kGet, kCur, Control(2), Entity(clock), 1).data[0]; }

  std::unique_ptr<UacDevice> device_ = MakeCatalogueDevice(kDefaultDeviceName);
  DeviceHost host_{*device_};
};

TEST_F(VelmorRequests, ValidityLagsARateChange) {
  EXPECT_TRUE(Valid(2));
  ASSERT_TRUE(host_.Out(kSet, kCur, Control(1), Entity(2), Le(96000, 4)));
  EXPECT_FALSE(Valid(2));
  host_.Idle(8 * 3 - 1);  // 3 ms lag, 125 us microframes
  EXPECT_FALSE(Valid(2));
  host_.Idle(1);
  EXPECT_TRUE(Valid(2));
  // Setting the rate it already runs at does not unlock the clock.
  ASSERT_TRUE(host_.Out(kSet, kCur, Control(1), Entity(2), Le(96000, 4)));
  EXPECT_TRUE(Valid(2));
}

TEST_F(VelmorRequests, ClockSelectorPins) {
  EXPECT_EQ(host_.In(kGet, kCur, Control(1), Entity(3), 1).data, std::vector<uint8_t>{1});
  EXPECT_FALSE(host_.Out(kSet, kCur, Control(1), Entity(3), {0}));
  EXPECT_FALSE(host_.Out(kSet, kCur, Control(1), Entity(3), {3}));
  EXPECT_TRUE(host_.In(kGet, kRange, Control(1), Entity(3), 8).stalled);
  ASSERT_TRUE(host_.Out(kSet, kCur, Control(1), Entity(3), {2}));
  EXPECT_EQ(device_->Controls().SelectorPin(3), 2);
  EXPECT_EQ(device_->Controls().TerminalClock(10), 2);
  EXPECT_FALSE(Valid(2));  // the newly selected source needs to lock
}

TEST_F(VelmorRequests, HeadphoneConnector) {
  const auto plugged = host_.In(kGet, kCur, Control(2), Entity(12), 6);
  EXPECT_EQ(plugged.data, (std::vector<uint8_t>{2, 3, 0, 0, 0, 0}));
  device_->Controls().SetConnector(12, sim::devices::ConnectorState::Unplugged);
  EXPECT_EQ(host_.In(kGet, kCur, Control(2), Entity(12), 6).data[0], 0);
  device_->Controls().SetConnector(12, sim::devices::ConnectorState::Unreadable);
  EXPECT_TRUE(host_.In(kGet, kCur, Control(2), Entity(12), 6).stalled);
  EXPECT_TRUE(host_.In(kGet, kCur, Control(2), Entity(10), 6).stalled);  // no connector control
  EXPECT_FALSE(host_.Out(kSet, kCur, Control(2), Entity(12), {1, 0, 0, 0, 0, 0}));
}

TEST_F(VelmorRequests, VolumeIsClampedAndLengthsChecked) {
  ASSERT_TRUE(host_.Out(kSet, kCur, Control(2), Entity(11), Le(0x8001, 2)));
  EXPECT_EQ(device_->Controls().Volume(11, 0), -100 * 256);
  ASSERT_TRUE(host_.Out(kSet, kCur, Control(2), Entity(11), Le(0x8000, 2)));  // silence
  EXPECT_EQ(device_->Controls().Volume(11, 0), -0x8000);
  EXPECT_FALSE(host_.Out(kSet, kCur, Control(2), Entity(11), Le(0, 4)));
  EXPECT_FALSE(host_.Out(kSet, kCur, Control(1), Entity(11), {}));
  EXPECT_EQ(host_.In(kGet, kCur, Control(2), Entity(11), 1).data.size(), 1u);  // short read
}

TEST(StreamKindRequest, AcceptedOnlyByNativeDsdDevicesAndWellFormed) {
  struct Case {
    uint8_t type;
    uint16_t value, index;
    std::vector<uint8_t> data;
    bool accepted;
  };
  const Case cases[] = {
      {0x41, 1, 1, {}, true},       {0x41, 0, 2, {}, true},   {0x41, 2, 1, {}, false},
      {0x41, 1, 0, {}, false},      {0x41, 1, 1, {0}, false}, {0x40, 1, 1, {}, false},
      {0x41, 1, 0x0101, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.value << " to " << c.index);
    auto velmor = MakeCatalogueDevice(kDefaultDeviceName);
    DeviceHost host(*velmor);
    EXPECT_FALSE(host.Out(c.type, 0, c.value, c.index, c.data));  // unconfigured
    host.Configure();
    EXPECT_EQ(host.Out(c.type, 0, c.value, c.index, c.data), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(velmor->StreamKind(static_cast<uint8_t>(c.index)), c.value);
    }
  }
  for (const CatalogueEntry& e : Catalogue()) {
    if (e.behaviour.nativeDsd) continue;
    SCOPED_TRACE(e.name);
    UacDevice device(e.spec, e.behaviour);
    DeviceHost host(device);
    host.Configure();
    EXPECT_FALSE(host.Out(0x41, 0, 1, e.spec.streams[0].bInterfaceNumber));
  }
}

TEST(Uac1Requests, FeatureUnitVolumeAndEndpointRate) {
  auto speaker = MakeCatalogueDevice("uac1-speaker");
  DeviceHost host(*speaker);
  host.Configure();
  const uint16_t fu = Entity(2);
  EXPECT_EQ(Word(host.In(kGet, 0x82, Control(2), fu, 2).data, 0, 2), 0x9C00u);
  EXPECT_EQ(Word(host.In(kGet, 0x83, Control(2), fu, 2).data, 0, 2), 0u);
  EXPECT_EQ(Word(host.In(kGet, 0x84, Control(2), fu, 2).data, 0, 2), 128u);
  ASSERT_TRUE(host.Out(kSet, 0x01, Control(2), fu, Le(0xFF00, 2)));
  EXPECT_EQ(Word(host.In(kGet, 0x81, Control(2), fu, 2).data, 0, 2), 0xFF00u);
  EXPECT_FALSE(host.Out(kSet, 0x02, Control(2), fu, Le(0, 2)));    // SET_MIN
  EXPECT_TRUE(host.In(kGet, 0x01, Control(2), fu, 2).stalled);     // 2.0 code on 1.0
  EXPECT_TRUE(host.In(kGet, 0x81, Control(1, 1), fu, 1).stalled);  // channel 1 has no mute
  ASSERT_TRUE(host.Out(kSet, 0x01, Control(1), fu, {1}));
  EXPECT_TRUE(speaker->Controls().Mute(2, 0));

  // The sampling frequency lives on the data endpoint of the selected setting.
  EXPECT_FALSE(host.Out(0x22, 0x01, 0x0100, 0x01, Le(48000, 3)));
  ASSERT_TRUE(host.SetInterface(1, 1));
  EXPECT_EQ(Word(host.In(0xA2, 0x81, 0x0100, 0x01, 3).data, 0, 3), 44100u);
  ASSERT_TRUE(host.Out(0x22, 0x01, 0x0100, 0x01, Le(48000, 3)));
  EXPECT_EQ(speaker->EndpointRate(0x01), 48000u);
  EXPECT_FALSE(host.Out(0x22, 0x01, 0x0100, 0x01, Le(32000, 3)));
  EXPECT_FALSE(host.Out(0x22, 0x01, 0x0100, 0x81, Le(48000, 3)));
  EXPECT_FALSE(host.Out(0x22, 0x01, 0x0200, 0x01, Le(48000, 3)));  // pitch is not offered
}

TEST(Uac1Requests, HeadsetCaptureRateNeedsItsSetting) {
  auto headset = MakeCatalogueDevice("uac1-headset");
  DeviceHost host(*headset);
  host.Configure();
  ASSERT_TRUE(host.SetInterface(2, 1));
  ASSERT_TRUE(host.Out(0x22, 0x01, 0x0100, 0x82, Le(48000, 3)));
  EXPECT_EQ(Word(host.In(0xA2, 0x81, 0x0100, 0x82, 3).data, 0, 3), 48000u);
  // Audio 2.0 request codes do not exist on an Audio 1.0 clockless function.
  EXPECT_TRUE(host.In(kGet, kRange, Control(1), Entity(1), 14).stalled);
}

}  // namespace
}  // namespace sim::devices
