// Configuration descriptors a faulty or hostile device might send. None may make the model read
// outside the configuration copy or loop; a malformed descriptor counts as absent, and where
// the model needs it the device is refused with STATUS_NOT_SUPPORTED.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "audio_model_fixture.h"
#include "sim/devices/descriptor_builder.h"

namespace tarnlink::audio_model::testing {
namespace {

using Bytes = std::vector<uint8_t>;

// Offset of the nth descriptor of `type` (and `subtype`, when not -1), walking by bLength.
size_t Find(const Bytes& b, uint8_t type, int subtype = -1, int nth = 0) {
  for (size_t at = 0; at + 2 <= b.size() && b[at] >= 2; at += b[at]) {
    if (b[at + 1] == type && (subtype < 0 || (at + 2 < b.size() && b[at + 2] == subtype)) &&
        nth-- == 0) {
      return at;
    }
  }
  ADD_FAILURE() << "descriptor " << int(type) << "/" << subtype << " not found";
  return 0;
}

// Replaces the descriptor at `at` with `replacement`, keeping wTotalLength right.
void Splice(Bytes& b, size_t at, const Bytes& replacement) {
  const size_t old = b[at];
  b.erase(b.begin() + at, b.begin() + at + old);
  b.insert(b.begin() + at, replacement.begin(), replacement.end());
  b[2] = static_cast<uint8_t>(b.size());
  b[3] = static_cast<uint8_t>(b.size() >> 8);
}

void Insert(Bytes& b, size_t at, const Bytes& descriptor) {
  b.insert(b.begin() + at, descriptor.begin(), descriptor.end());
  b[2] = static_cast<uint8_t>(b.size());
  b[3] = static_cast<uint8_t>(b.size() >> 8);
}

// The audio control block grows or shrinks with a splice: keep its wTotalLength in step.
void AdjustAudioBlock(Bytes& b, bool uac2, int delta) {
  const size_t header = Find(b, 0x24, 0x01);
  const size_t at = header + (uac2 ? 6 : 5);
  const int total = (b[at] | (b[at + 1] << 8)) + delta;
  b[at] = static_cast<uint8_t>(total);
  b[at + 1] = static_cast<uint8_t>(total >> 8);
}

struct HostileCase {
  const char* name;
  bool uac2;
  std::function<void(Bytes&)> mutate;
  NTSTATUS expected;
  // Checked when Initialize succeeds.
  std::function<void(CUSBAudioCL&)> check = nullptr;

  friend void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }
};

class HostileDescriptorTest : public AudioModelTest,
                              public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileDescriptorTest, NeverReadsOutsideTheCopy) {
  const HostileCase& c = GetParam();
  AudioFunctionSpec spec = c.uac2 ? Uac2Device(true) : Uac1Device(true);
  Bytes config = sim::devices::BuildConfigurationDescriptor(spec);
  c.mutate(config);
  Plug(spec, std::nullopt, config);
  ASSERT_TRUE(Run([&] {
    EXPECT_EQ(Initialize(), c.expected);
    if (NT_SUCCESS(c.expected)) {
      if (c.check) c.check(*model_);
      model_->Configure();  // whatever the device makes of it, the model stays in bounds
    }
  }));
}

void ShortenSelector(Bytes& b) {
  // A selector claiming 9 inputs inside 8 bytes.
  const size_t clock = Find(b, 0x24, 0x0A);
  Insert(b, clock + b[clock], Bytes{8, 0x24, 0x0B, 3, 9, 1, 0, 0});
  AdjustAudioBlock(b, true, 8);
}

const HostileCase kCases[] = {
    {"HeaderLengthZero", true, [](Bytes& b) { b[Find(b, 0x24, 0x01)] = 0; }, STATUS_NOT_SUPPORTED},
    {"HeaderLengthOne", false, [](Bytes& b) { b[Find(b, 0x24, 0x01)] = 1; }, STATUS_NOT_SUPPORTED},
    {"Uac2HeaderTooShortForItsVersion", true,
     [](Bytes& b) {
       const size_t h = Find(b, 0x24, 0x01);
       Splice(b, h, Bytes{5, 0x24, 0x01, 0x00, 0x02});
     },
     STATUS_NOT_SUPPORTED},
    {"AudioBlockLongerThanItsInterface", true, [](Bytes& b) { AdjustAudioBlock(b, true, 200); },
     STATUS_NOT_SUPPORTED},
    {"EntityLengthZero", true, [](Bytes& b) { b[Find(b, 0x24, 0x02)] = 0; },
     // Nothing after it can be reached: the clock before it is all there is.
     STATUS_SUCCESS,
     [](CUSBAudioCL& m) {
       EXPECT_EQ(m.FirstEntity()->Next(), nullptr);
       EXPECT_EQ(m.StreamInterfaceCount(), 0);
     }},
    {"LastDescriptorRunsPastTheEnd", true,
     [](Bytes& b) {
       // The capture endpoint's class-specific descriptor is the last one; make it claim more.
       b[Find(b, 0x25, 0x01, 2)] = 0xF0;
     },
     STATUS_SUCCESS,
     [](CUSBAudioCL& m) {
       EXPECT_EQ(m.CaptureInterface()->AltSettings[1].EndpointGeneralDescriptor, nullptr);
     }},
    {"ConfigurationLongerThanDelivered", true,
     [](Bytes& b) {
       const size_t total = b.size() + 64;
       b[2] = static_cast<uint8_t>(total);
       b[3] = static_cast<uint8_t>(total >> 8);
     },
     STATUS_NOT_SUPPORTED},
    {"TerminalShorterThanItsClass", true,
     [](Bytes& b) {
       const size_t it = Find(b, 0x24, 0x02);
       Bytes shortIt(b.begin() + it, b.begin() + it + 12);
       shortIt[0] = 12;
       Splice(b, it, shortIt);
       AdjustAudioBlock(b, true, -5);
     },
     STATUS_NOT_SUPPORTED},
    {"ClockSelectorWithMoreInputsThanBytes", true, ShortenSelector, STATUS_SUCCESS,
     [](CUSBAudioCL& m) { EXPECT_EQ(m.FindEntity(3), nullptr); }},
    {"FeatureUnitControlSizeZero", false, [](Bytes& b) { b[Find(b, 0x24, 0x06) + 5] = 0; },
     // The unit is dropped, so the output terminal after it cannot find its source.
     STATUS_SUCCESS, [](CUSBAudioCL& m) { EXPECT_EQ(m.FindEntity(2), nullptr); }},
    {"FeatureUnitControlSizeLargerThanItsLength", false,
     [](Bytes& b) { b[Find(b, 0x24, 0x06) + 5] = 200; }, STATUS_SUCCESS,
     [](CUSBAudioCL& m) { EXPECT_EQ(m.FindEntity(2), nullptr); }},
    {"FormatTooShortForItsRateList", false,
     [](Bytes& b) { b[Find(b, 0x24, 0x02, 2) + 7] = 40; },  // after the two terminals
     STATUS_SUCCESS,
     [](CUSBAudioCL& m) {
       EXPECT_EQ(m.PlaybackInterface()->AltSettings[1].FormatDescriptor, nullptr);
       EXPECT_NE(m.PlaybackInterface()->AltSettings[1].GeneralDescriptor, nullptr);
     }},
    {"StreamingGeneralTooShort", false,
     [](Bytes& b) {
       const size_t g = Find(b, 0x24, 0x01, 1);
       Splice(b, g, Bytes{4, 0x24, 0x01, 1});
     },
     STATUS_NOT_SUPPORTED},
    {"FirstEndpointTooShort", true,
     [](Bytes& b) {
       const size_t e = Find(b, 0x05);
       Splice(b, e, Bytes{4, 0x05, 0x01, 0x05});
     },
     STATUS_NOT_SUPPORTED},
    {"AlternateSettingOneTruncated", true,
     [](Bytes& b) {
       const size_t i = Find(b, 0x04, -1, 2);  // interface 1, setting 1
       Splice(b, i, Bytes{5, 0x04, 1, 1, 1});
     },
     STATUS_NOT_SUPPORTED},
    {"EndpointCountBeyondTheSetting", true, [](Bytes& b) { b[Find(b, 0x04, -1, 2) + 4] = 0xFF; },
     STATUS_SUCCESS,
     [](CUSBAudioCL& m) {
       EXPECT_NE(m.PlaybackInterface()->AltSettings[1].DataEndpoint, nullptr);
     }},
};

INSTANTIATE_TEST_SUITE_P(Hostile, HostileDescriptorTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tarnlink::audio_model::testing
