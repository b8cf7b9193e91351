// The class and vendor requests of the audio model against simulated devices: clock source
// ranges, clock selectors, feature unit validation, mute and volume, connectors, device rates
// and the stream kind.
#include <gtest/gtest.h>

#include <string>

#include "audio_model_fixture.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::audio_model::testing {
namespace {

constexpr uint8_t kRead = 0xA1;
constexpr uint8_t kWrite = 0x21;

std::vector<uint8_t> Ranges(std::initializer_list<std::array<uint32_t, 3>> subranges,
                            int claimed = -1) {
  const uint16_t n = static_cast<uint16_t>(claimed >= 0 ? claimed : subranges.size());
  std::vector<uint8_t> b = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
  for (const auto& r : subranges) {
    for (uint32_t v : r) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
  }
  return b;
}

CUSBAudioClock* ClockOf(CUSBAudioCL& m, ULONG id) {
  CUSBAudioEntity* e = m.FindEntity(id);
  return e != nullptr && e->IsClock() ? static_cast<CUSBAudioClock*>(e) : nullptr;
}

CUSBAudioFeatureUnit* FeatureOf(CUSBAudioCL& m, ULONG id) {
  return static_cast<CUSBAudioFeatureUnit*>(m.FindEntity(id));
}

size_t Count(const std::vector<SeenRequest>& seen, uint8_t type, uint8_t request) {
  size_t n = 0;
  for (const SeenRequest& r : seen) n += r.bmRequestType == type && r.bRequest == request;
  return n;
}

// --- clock source ranges ---------------------------------------------------------------------

struct RangeCase {
  const char* name;
  std::vector<uint8_t> answer;
  std::vector<std::pair<ULONG, bool>> rates;  // rate, supported
  ULONG lower, upper, minimum, maximum;
};

class ClockRangeTest : public AudioModelTest, public ::testing::WithParamInterface<RangeCase> {
 public:
  friend void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }
};

TEST_P(ClockRangeTest, AcceptsOnlyRatesOnASubrangeGrid) {
  const RangeCase& c = GetParam();
  Plug(Uac2Device(false));
  device_->Script(kRead, 0x02, 0x0100, 0x0100, {false, c.answer});
  ASSERT_TRUE(Run([&] {
    Start();
    CUSBAudioClock* clock = ClockOf(*model_, 1);
    ASSERT_NE(clock, nullptr);
    for (auto [rate, supported] : c.rates) {
      EXPECT_EQ(clock->IsSampleRateSupported(rate),
                supported ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED)
          << rate;
    }
    ULONG minimum = 1, maximum = 1;
    EXPECT_EQ(clock->GetSampleRateRange(&minimum, &maximum, c.lower, c.upper), STATUS_SUCCESS);
    EXPECT_EQ(minimum, c.minimum);
    EXPECT_EQ(maximum, c.maximum);
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ClockRangeTest,
    ::testing::Values(RangeCase{"ContinuousWithoutResolution",
                                Ranges({{44100, 192000, 0}}),
                                {{48000, false}, {44100, false}, {192000, false}},
                                0,
                                0xFFFFFFFF,
                                44100,
                                192000},
                      RangeCase{"TwoSingleRates",
                                Ranges({{44100, 44100, 0}, {48000, 48000, 0}}),
                                {{44100, true}, {48000, true}, {46000, false}, {96000, false}},
                                0,
                                0xFFFFFFFF,
                                44100,
                                48000},
                      RangeCase{"ResolutionGrid",
                                Ranges({{8000, 48000, 8000}}),
                                {{8000, true}, {16000, true}, {48000, true}, {44100, false}},
                                10000,
                                0xFFFFFFFF,
                                0,
                                48000},
                      // The device claims three subranges and sends one: only what arrived counts.
                      RangeCase{"ShortAnswer",
                                Ranges({{96000, 96000, 0}}, 3),
                                {{96000, true}, {0, false}},
                                0,
                                0xFFFFFFFF,
                                96000,
                                96000}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(AudioModelTest, OversizedRangeAnswerIsRefused) {
  Plug(Uac2Device(false));
  device_->Script(kRead, 0x02, 0x0100, 0x0100, {false, Ranges({}, 5462)});
  ASSERT_TRUE(Run([&] {
    Start();
    ULONG minimum = 0, maximum = 0;
    EXPECT_EQ(ClockOf(*model_, 1)->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(ClockOf(*model_, 1)->IsSampleRateSupported(48000), STATUS_UNSUCCESSFUL);
  }));
}

// --- clock selector --------------------------------------------------------------------------

AudioFunctionSpec SelectorDevice(std::vector<uint8_t> inputs) {
  AudioFunctionSpec spec = Uac2Device(false, {44100, 48000});
  sim::devices::ClockSourceSpec second{};
  second.bClockID = 2;
  second.rates = {44100, 352800};
  sim::devices::ClockSelectorSpec selector{};
  selector.bClockID = 3;
  selector.baCSourceID = std::move(inputs);
  spec.entities.insert(spec.entities.begin() + 1, second);
  spec.entities.insert(spec.entities.begin() + 2, selector);
  std::get<sim::devices::InputTerminalSpec>(spec.entities[3]).bCSourceID = 3;
  std::get<sim::devices::OutputTerminalSpec>(spec.entities[4]).bCSourceID = 3;
  return spec;
}

TEST_F(AudioModelTest, SelectorSetsTheFirstClockThatTakesTheRateThenSelectsItsPin) {
  Plug(SelectorDevice({1, 2}));
  ASSERT_TRUE(Run([&] {
    Start();
    CUSBAudioClock* selector = ClockOf(*model_, 3);
    ASSERT_NE(selector, nullptr);
    device_->seen.clear();
    ASSERT_EQ(selector->SetSampleRate(352800), STATUS_SUCCESS);
    EXPECT_EQ(device_->inner().Controls().ClockRate(2), 352800u);
    EXPECT_EQ(device_->inner().Controls().SelectorPin(3), 2);
    ASSERT_FALSE(device_->seen.empty());
    const SeenRequest& last = device_->seen.back();
    EXPECT_EQ(last.bmRequestType, kWrite);
    EXPECT_EQ(last.wIndex, 0x0300);
    EXPECT_EQ(last.data, std::vector<uint8_t>{2});
    ULONG rate = 0;
    EXPECT_EQ(selector->GetSampleRate(&rate), STATUS_SUCCESS);
    EXPECT_EQ(rate, 352800u);
    ULONG minimum = 0, maximum = 0;
    EXPECT_EQ(selector->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF), STATUS_SUCCESS);
    EXPECT_EQ(minimum, 44100u);
    EXPECT_EQ(maximum, 352800u);
    EXPECT_EQ(selector->IsSampleRateSupported(48000), STATUS_SUCCESS);
    EXPECT_EQ(selector->IsSampleRateSupported(96000), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(selector->SetSampleRate(96000), STATUS_NOT_SUPPORTED);
  }));
}

TEST_F(AudioModelTest, SelectorAnsweringPinZeroIsAnInvalidSelection) {
  Plug(SelectorDevice({1, 2}));
  device_->Script(kRead, 0x01, 0x0100, 0x0300, {false, {0}});
  ASSERT_TRUE(Run([&] {
    Start();
    CUSBAudioClock* selector = ClockOf(*model_, 3);
    EXPECT_FALSE(selector->IsValid());
    ULONG rate = 0;
    EXPECT_EQ(selector->GetSampleRate(&rate), STATUS_NOT_SUPPORTED);
    EXPECT_FALSE(model_->IsClockStable(0));
  }));
}

TEST_F(AudioModelTest, SelectorNamingItselfSkipsThatInputInsteadOfRecursing) {
  Plug(SelectorDevice({3, 1}));
  ASSERT_TRUE(Run([&] {
    Start();
    CUSBAudioClock* selector = ClockOf(*model_, 3);
    EXPECT_EQ(selector->IsSampleRateSupported(352800), STATUS_NOT_SUPPORTED);
    ULONG minimum = 0, maximum = 0;
    EXPECT_EQ(selector->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF), STATUS_SUCCESS);
    EXPECT_EQ(minimum, 44100u);
    EXPECT_EQ(maximum, 48000u);
    EXPECT_EQ(selector->SetSampleRate(48000), STATUS_SUCCESS);
    EXPECT_EQ(device_->inner().Controls().SelectorPin(3), 2);
  }));
}

// --- feature units ---------------------------------------------------------------------------

TEST_F(AudioModelTest, ReadOnlyMuteCanBeReadButNotWritten) {
  AudioFunctionSpec spec = Uac2Device(false);
  sim::devices::FeatureUnitSpec feature{};
  feature.bUnitID = 11;
  feature.bSourceID = 10;
  feature.bmaControls = {0x01 | 0x0C, 0, 0};  // mute read-only, volume read-write
  spec.entities.insert(spec.entities.begin() + 2, feature);
  std::get<sim::devices::OutputTerminalSpec>(spec.entities[3]).bSourceID = 11;
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    Start();
    CUSBAudioFeatureUnit* unit = FeatureOf(*model_, 11);
    EXPECT_EQ(unit->ChannelCount(), 3u);
    UCHAR mute = 7;
    EXPECT_EQ(model_->GetMute(unit, 0, &mute), STATUS_SUCCESS);
    EXPECT_EQ(mute, 0);
    const size_t before = device_->seen.size();
    EXPECT_EQ(model_->SetMute(unit, 0, 1), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(model_->GetMute(unit, 1, &mute), STATUS_NOT_SUPPORTED);  // no control on channel 1
    EXPECT_EQ(model_->GetMute(unit, 3, &mute), STATUS_NOT_SUPPORTED);  // no channel 3
    EXPECT_EQ(device_->seen.size(), before);
    EXPECT_EQ(model_->GetMute(nullptr, 0, &mute), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(unit->HasControlOnAnyChannel(kFeatureControlMute));
    EXPECT_TRUE(unit->HasControlOnAnyChannel(kFeatureControlVolume));
    EXPECT_FALSE(unit->HasControlOnAnyChannel(2));

    ASSERT_EQ(model_->SetVolume(unit, 0, -10 * 256), STATUS_SUCCESS);
    EXPECT_EQ(device_->seen.back().wValue, 0x0200);
    EXPECT_EQ(device_->seen.back().wIndex, 0x0B00);
    SHORT volume = 0;
    EXPECT_EQ(model_->GetVolume(unit, 0, &volume), STATUS_SUCCESS);
    EXPECT_EQ(volume, -10 * 256);
    SHORT minimum = 0, maximum = 0;
    USHORT resolution = 0;
    EXPECT_EQ(model_->GetVolumeRange(unit, 0, &minimum, &maximum, &resolution), STATUS_SUCCESS);
    EXPECT_EQ(minimum, -100 * 256);
    EXPECT_EQ(maximum, 0);
    EXPECT_EQ(resolution, 128);
  }));
}

TEST_F(AudioModelTest, Uac1VolumeRangeStopsAtAFailedMaximum) {
  Plug(Uac1Device(false));
  device_->Script(kRead, 0x83, 0x0200, 0x0200, {true, {}});
  ASSERT_TRUE(Run([&] {
    Start();
    CUSBAudioFeatureUnit* unit = FeatureOf(*model_, 2);
    SHORT minimum = 0, maximum = 0;
    USHORT resolution = 0;
    EXPECT_FALSE(NT_SUCCESS(model_->GetVolumeRange(unit, 0, &minimum, &maximum, &resolution)));
    EXPECT_EQ(Count(device_->seen, kRead, 0x82), 1u);
    EXPECT_EQ(Count(device_->seen, kRead, 0x83), 1u);
    EXPECT_EQ(Count(device_->seen, kRead, 0x84), 0u);
    // 1.0 controls are present for reads and writes alike; SET_CUR goes out as 0x01.
    EXPECT_EQ(model_->SetMute(unit, 0, 1), STATUS_SUCCESS);
    EXPECT_EQ(device_->seen.back().bRequest, 0x01);
    EXPECT_TRUE(device_->inner().Controls().Mute(2, 0));
  }));
}

// --- terminals, device rates, stream kind ------------------------------------------------------

TEST_F(AudioModelTest, ConnectorStateFollowsTheJack) {
  PlugCatalogue("velmor-dac");
  ASSERT_TRUE(Run([&] {
    Start();
    auto* headphones = static_cast<CUSBAudioTerminal*>(model_->FindEntity(12));
    EXPECT_EQ(headphones->GetConnectorState(), 1u);
    device_->inner().Controls().SetConnector(12, sim::devices::ConnectorState::Unplugged);
    EXPECT_EQ(headphones->GetConnectorState(), 0u);
    device_->inner().Controls().SetConnector(12, sim::devices::ConnectorState::Unreadable);
    EXPECT_EQ(headphones->GetConnectorState(), kConnectorStateUnknown);
    EXPECT_FALSE(headphones->HasControl(5));  // beyond an output terminal's controls
    auto* input = static_cast<CUSBAudioTerminal*>(model_->FindEntity(10));
    EXPECT_EQ(input->GetConnectorState(), kConnectorStateUnknown);
  }));
}

TEST_F(AudioModelTest, Uac1DeviceRateIsRecordedThoughItCannotBeSet) {
  Plug(Uac1Device(true));
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_EQ(model_->SetDeviceSampleRate(48000), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(model_->FixedSampleRate(), 48000u);
    EXPECT_TRUE(model_->IsClockStable(0));
    EXPECT_EQ(model_->IsRateSupported(44100), STATUS_SUCCESS);
    EXPECT_EQ(model_->IsRateSupported(32000), STATUS_INVALID_PARAMETER);
    ULONG minimum = 0, maximum = 0xFFFFFFFF;
    EXPECT_EQ(model_->GetRateRange(1, &minimum, &maximum), STATUS_SUCCESS);
    EXPECT_EQ(minimum, 44100u);
    EXPECT_EQ(maximum, 48000u);
    minimum = 45000;
    maximum = 0xFFFFFFFF;
    EXPECT_EQ(model_->GetRateRange(0, &minimum, &maximum), STATUS_SUCCESS);
    EXPECT_EQ(minimum, 48000u);
    EXPECT_EQ(model_->GetRateRange(2, &minimum, &maximum), STATUS_INVALID_DEVICE_REQUEST);
  }));
}

TEST_F(AudioModelTest, Uac2DeviceRateSetsBothClocks) {
  Plug(SelectorDevice({1, 2}));
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_EQ(model_->SetDeviceSampleRate(352800), STATUS_SUCCESS);
    EXPECT_EQ(model_->FixedSampleRate(), 352800u);
    EXPECT_EQ(model_->IsRateSupported(352800), STATUS_SUCCESS);
    EXPECT_EQ(model_->IsRateSupported(96000), STATUS_NOT_SUPPORTED);
    ULONG minimum = 0, maximum = 0xFFFFFFFF;
    EXPECT_EQ(model_->GetRateRange(0, &minimum, &maximum), STATUS_SUCCESS);
    EXPECT_EQ(minimum, 44100u);
    EXPECT_EQ(maximum, 352800u);
    EXPECT_EQ(model_->SetDeviceSampleRate(96000), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(model_->FixedSampleRate(), 96000u);
  }));
}

TEST_F(AudioModelTest, StreamKindGoesToEveryInterfaceAndIsReplayed) {
  PlugCatalogue("velmor-dac");
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_EQ(model_->GetStreamKind(), 0);
    ASSERT_EQ(model_->SendStreamKind(1), STATUS_SUCCESS);
    EXPECT_EQ(model_->GetStreamKind(), 1);
    EXPECT_EQ(device_->inner().StreamKind(1), 1);
    EXPECT_EQ(device_->inner().StreamKind(2), 1);
    device_->seen.clear();
    ASSERT_EQ(model_->ReplayStreamKind(), STATUS_SUCCESS);
    ASSERT_EQ(device_->seen.size(), 2u);
    EXPECT_EQ(device_->seen[0].bmRequestType, 0x41);
    EXPECT_EQ(device_->seen[0].wValue, 1);
    EXPECT_EQ(device_->seen[1].wIndex, 2);
  }));
}

TEST_F(AudioModelTest, StreamKindStopsAtTheFirstRefusal) {
  Plug(Uac2Device(true));
  device_->Script(0x41, 0x00, 1, 1, {true, {}});
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_FALSE(NT_SUCCESS(model_->SendStreamKind(1)));
    EXPECT_EQ(Count(device_->seen, 0x41, 0x00), 1u);
    EXPECT_EQ(model_->GetStreamKind(), 0);
  }));
}

}  // namespace
}  // namespace tarnlink::audio_model::testing
