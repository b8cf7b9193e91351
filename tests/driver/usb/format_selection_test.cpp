// Format selection against simulated devices: the alternate setting chosen for a format, the
// rate set on the device, the packet values stored for the isochronous engine, both variants,
// and the format queries.
#include <gtest/gtest.h>

#include <string>

#include "audio_model_fixture.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::audio_model::testing {
namespace {

// --- packet values of the standard variant ---------------------------------------------------

struct PacketCase {
  const char* name;
  bool uac2;
  ULONG rate, channels, bits;
  ULONG alt, containerBits;
  LONG nominal, minimum, maximum;
  bool integral;
  ULONG feedback;  // nominal 16.16 value stored for playback; 0 without a feedback pipe
};

class PacketValueTest : public AudioModelTest, public ::testing::WithParamInterface<PacketCase> {
 public:
  friend void PrintTo(const PacketCase& c, std::ostream* os) { *os << c.name; }
};

TEST_P(PacketValueTest, StoresThePacketBoundsOfTheChosenSetting) {
  const PacketCase& c = GetParam();
  Plug(c.uac2 ? Uac2Device(false) : Uac1Device(false));
  ASSERT_TRUE(Run([&] {
    Start();
    ULONG channels = 0, bits = 0, maxBytes = 0;
    ASSERT_EQ(model_->SelectStreamingFormat(0, 1, c.channels, c.bits, c.rate, 10, &channels, &bits,
                                            &maxBytes),
              STATUS_SUCCESS);
    EXPECT_EQ(channels, c.channels);
    EXPECT_EQ(bits, c.containerBits);
    USBAudioStreamInterface* s = model_->PlaybackInterface();
    EXPECT_EQ(s->CurrentAltSetting, c.alt);
    EXPECT_EQ(model_->GetCurrentAltSetting(0), c.alt);
    EXPECT_EQ(device_->inner().AlternateSetting(1), c.alt);
    EXPECT_EQ(s->BytesPerFrame, c.channels * c.containerBits / 8);
    EXPECT_EQ(s->NominalPacketBytes, c.nominal);
    EXPECT_EQ(s->MinimumPacketBytes, c.minimum);
    EXPECT_EQ(s->MaximumPacketBytes, c.maximum);
    EXPECT_EQ(s->IntegralRate != 0, c.integral);
    EXPECT_EQ(s->SampleRate, c.rate);
    ASSERT_NE(s->DataPipe, nullptr);
    const USB_ENDPOINT_DESCRIPTOR* data = s->AltSettings[c.alt].DataEndpoint;
    const ULONG capacity = c.uac2 ? 8u * data->wMaxPacketSize : data->wMaxPacketSize;
    EXPECT_EQ(maxBytes, 10 * capacity);
    ASSERT_NE(model_->CurrentRatePatternRow(), nullptr);
    EXPECT_EQ(model_->CurrentRatePatternRow()->rate, c.rate);
    EXPECT_EQ(model_->ServiceInterval(), 1u);
    EXPECT_EQ(s->FeedbackLatest, c.feedback);
    EXPECT_EQ(s->FeedbackPipe != nullptr, c.feedback != 0);
    if (c.uac2) {
      EXPECT_EQ(device_->inner().Controls().ClockRate(1), c.rate);
    } else {
      EXPECT_EQ(device_->inner().EndpointRate(0x01), c.rate);
    }

    // Stopping selects the zero-bandwidth setting and clears every value.
    ASSERT_EQ(model_->SelectStreamingFormat(0, 1, 0, 0, 0, 10, &channels, &bits, &maxBytes),
              STATUS_SUCCESS);
    EXPECT_EQ(s->CurrentAltSetting, 0u);
    EXPECT_EQ(device_->inner().AlternateSetting(1), 0);
    EXPECT_EQ(s->DataPipe, nullptr);
    EXPECT_EQ(s->NominalPacketBytes, 0);
    EXPECT_EQ(maxBytes, 0u);
    EXPECT_EQ(channels, 0u);
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketValueTest,
    ::testing::Values(
        PacketCase{"HighSpeed44100", true, 44100, 2, 32, 2, 32, 40, 40, 48, false, 361267},
        PacketCase{"HighSpeed48000", true, 48000, 2, 32, 2, 32, 48, 40, 56, true, 393216},
        PacketCase{"HighSpeed16Bit", true, 96000, 2, 16, 1, 16, 48, 44, 52, true, 0},
        PacketCase{"FullSpeed48000", false, 48000, 2, 16, 1, 16, 192, 188, 196, true, 0}),
    [](const auto& param) { return std::string(param.param.name); });

// --- the implicit-feedback variant -------------------------------------------------------------

struct WindowCase {
  const char* name;
  bool wideQuirk;
  LONG minimum, maximum, negativeSlack, positiveSlack;
};

class PacketWindowTest : public AudioModelTest, public ::testing::WithParamInterface<WindowCase> {
 public:
  friend void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }
};

TEST_P(PacketWindowTest, WidensTheWindowOnlyForTheQuirkDevice) {
  const WindowCase& c = GetParam();
  AudioFunctionSpec spec = Uac2Device(true);
  if (c.wideQuirk) {
    spec.idVendor = 0x0944;
    spec.idProduct = 0x020A;
  }
  spec.streams[0].alts[1].data.wMaxPacketSize = 1024;
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_EQ(model_->WidePacketWindow() != FALSE, c.wideQuirk);
    ULONG channels = 0, bits = 0, nominal = 0, maxBytes = 0;
    LONG negative = 0, positive = 0;
    ASSERT_EQ(model_->SelectStreamingFormat(0, 1, 2, 32, 48000, 10, &channels, &bits, &nominal,
                                            &negative, &positive, &maxBytes),
              STATUS_SUCCESS);
    USBAudioStreamInterface* s = model_->PlaybackInterface();
    EXPECT_EQ(s->NominalPacketBytes, 48);
    EXPECT_EQ(s->MinimumPacketBytes, c.minimum);
    EXPECT_EQ(s->MaximumPacketBytes, c.maximum);
    EXPECT_EQ(nominal, 48u * 80);
    EXPECT_EQ(negative, c.negativeSlack);
    EXPECT_EQ(positive, c.positiveSlack);
    EXPECT_EQ(maxBytes, 10u * 8 * 1024);
    EXPECT_EQ(s->SampleRate, 0u);  // this variant leaves the rate to the capture side
    EXPECT_EQ(model_->CurrentRatePatternRow(), nullptr);
  }));
}

INSTANTIATE_TEST_SUITE_P(Window, PacketWindowTest,
                         ::testing::Values(WindowCase{"Ordinary", false, 40, 56, -80, 80},
                                           WindowCase{"WideQuirk", true, 32, 64, -160, 160}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(AudioModelTest, SlackOfNoFormatIsRefusedButTheOtherOutputsAreWritten) {
  Plug(Uac2Device(true));
  ASSERT_TRUE(Run([&] {
    Start();
    ULONG channels = 9, bits = 9, nominal = 9, maxBytes = 9;
    LONG negative = 0;
    EXPECT_EQ(model_->SelectStreamingFormat(0, 1, 0, 0, 0, 10, &channels, &bits, &nominal,
                                            &negative, nullptr, &maxBytes),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(nominal, 0u);
    EXPECT_EQ(maxBytes, 0u);
    EXPECT_EQ(model_->SelectStreamingFormat(0, 1, 0, 0, 0, 10, &channels, &bits, &nominal, nullptr,
                                            nullptr, &maxBytes),
              STATUS_SUCCESS);
  }));
}

// --- choosing the setting ----------------------------------------------------------------------

TEST_F(AudioModelTest, WithoutAnExactMatchTheWidestSettingIsChosen) {
  AudioFunctionSpec spec = Uac2Device(false);
  spec.streams[0].alts = {Uac2Alt(2, 4, 32, IsoEndpoint(0x01, kIsoAsync)),
                          Uac2Alt(8, 4, 32, IsoEndpoint(0x01, kIsoAsync))};
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    Start();
    ULONG channels = 0, bits = 0, maxBytes = 0;
    ASSERT_EQ(model_->SelectStreamingFormat(0, 1, 2, 24, 48000, 1, &channels, &bits, &maxBytes),
              STATUS_SUCCESS);
    EXPECT_EQ(model_->GetCurrentAltSetting(0), 2u);
    EXPECT_EQ(channels, 8u);
    EXPECT_EQ(bits, 32u);
    EXPECT_EQ(model_->SelectStreamingFormat(0, 3, 2, 32, 48000, 1, &channels, &bits, &maxBytes),
              STATUS_NOT_SUPPORTED);  // no float setting at all
  }));
}

TEST_F(AudioModelTest, RateWithoutAPatternRowIsRefusedBeforeAnyRequest) {
  Plug(Uac2Device(false, {12000, 48000}));
  ASSERT_TRUE(Run([&] {
    Start();
    const size_t before = device_->seen.size();
    ULONG channels = 0, bits = 0, maxBytes = 0;
    EXPECT_EQ(model_->SelectStreamingFormat(0, 1, 2, 16, 12000, 1, &channels, &bits, &maxBytes),
              STATUS_NOT_SUPPORTED);
    EXPECT_EQ(device_->seen.size(), before);
    EXPECT_EQ(model_->GetCurrentAltSetting(0), 0u);
    // A rate the clock refuses fails the same way, through the clock.
    EXPECT_EQ(model_->SelectStreamingFormat(0, 1, 2, 16, 96000, 1, &channels, &bits, &maxBytes),
              STATUS_NOT_SUPPORTED);
    EXPECT_EQ(model_->SelectStreamingFormat(1, 1, 2, 16, 48000, 1, &channels, &bits, &maxBytes),
              STATUS_INVALID_PARAMETER);  // no capture interface
  }));
}

TEST_F(AudioModelTest, Uac1CaptureRateIsVerifiedWhenItCannotBeSet) {
  AudioFunctionSpec spec = Uac1Device(true);
  spec.streams[1].alts[0].endpointAttributes = 0;  // no sampling frequency control
  Plug(spec);
  // The device runs its capture endpoint at 44100 whatever it is asked.
  device_->Script(0xA2, 0x81, 0x0100, 0x0082, {false, {0x44, 0xAC, 0x00}});
  ASSERT_TRUE(Run([&] {
    Start();
    ULONG channels = 0, bits = 0, maxBytes = 0;
    EXPECT_EQ(model_->SelectStreamingFormat(1, 1, 2, 16, 48000, 1, &channels, &bits, &maxBytes),
              STATUS_NOT_SUPPORTED);
    EXPECT_EQ(model_->GetCurrentAltSetting(1), 0u);
    EXPECT_EQ(device_->inner().AlternateSetting(2), 0);
    ASSERT_EQ(model_->SelectStreamingFormat(1, 1, 2, 16, 44100, 1, &channels, &bits, &maxBytes),
              STATUS_SUCCESS);
    EXPECT_EQ(model_->GetCurrentAltSetting(1), 1u);
    EXPECT_EQ(model_->CaptureInterface()->NominalPacketBytes, 44 * 4);
    EXPECT_EQ(model_->CaptureInterface()->MinimumPacketBytes, 44 * 4);
  }));
}

// --- queries -----------------------------------------------------------------------------------

struct MaxFormatCase {
  const char* name;
  bool uac1;
  ULONG direction;
  USHORT tag;
  ULONG rate;
  NTSTATUS status;
  ULONG channels, bits;
};

class MaxFormatTest : public AudioModelTest, public ::testing::WithParamInterface<MaxFormatCase> {
 public:
  friend void PrintTo(const MaxFormatCase& c, std::ostream* os) { *os << c.name; }
};

TEST_P(MaxFormatTest, ReportsTheLargestFormatAtARate) {
  const MaxFormatCase& c = GetParam();
  if (c.uac1) {
    Plug(Uac1Device(false));
  } else {
    PlugCatalogue("velmor-dac");
  }
  ASSERT_TRUE(Run([&] {
    Start();
    ULONG channels = 7, bits = 7;
    EXPECT_EQ(model_->GetMaxFormat(c.direction, c.tag, c.rate, &channels, &bits), c.status);
    if (NT_SUCCESS(c.status)) {
      EXPECT_EQ(channels, c.channels);
      EXPECT_EQ(bits, c.bits);
    }
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Queries, MaxFormatTest,
    ::testing::Values(
        MaxFormatCase{"Uac2Pcm", false, 0, 1, 48000, STATUS_SUCCESS, 2, 32},
        MaxFormatCase{"Uac2Capture", false, 1, 1, 768000, STATUS_SUCCESS, 2, 32},
        MaxFormatCase{"Uac2NoFloat", false, 0, 3, 48000, STATUS_NO_MATCH, 0, 0},
        MaxFormatCase{"Uac2RateOutsideTheClock", false, 0, 1, 8000, STATUS_NO_MATCH, 0, 0},
        MaxFormatCase{"ALawIsNoMaximumTag", false, 0, 6, 48000, STATUS_NOT_SUPPORTED, 0, 0},
        MaxFormatCase{"Uac1Pcm", true, 0, 1, 44100, STATUS_SUCCESS, 2, 16},
        MaxFormatCase{"Uac1RateOutsideTheList", true, 0, 1, 96000, STATUS_NO_MATCH, 0, 0},
        MaxFormatCase{"Uac1NoCapture", true, 1, 1, 44100, STATUS_INVALID_DEVICE_REQUEST, 0, 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(AudioModelTest, FormatLimitsSpanEverySetting) {
  PlugCatalogue("velmor-dac");
  ASSERT_TRUE(Run([&] {
    Start();
    ULONG channels = 0, minBits = 0, maxBits = 0, minRate = 0, maxRate = 0;
    ASSERT_EQ(model_->GetFormatLimits(0, &channels, &minBits, &maxBits, &minRate, &maxRate),
              STATUS_SUCCESS);
    EXPECT_EQ(channels, 2u);
    EXPECT_EQ(minBits, 16u);
    EXPECT_EQ(maxBits, 32u);
    EXPECT_EQ(minRate, 44100u);
    EXPECT_EQ(maxRate, 768000u);
    EXPECT_EQ(model_->GetFormatLimits(5, &channels, &minBits, &maxBits, &minRate, &maxRate),
              STATUS_INVALID_PARAMETER);
  }));
}

}  // namespace
}  // namespace tarnlink::audio_model::testing
