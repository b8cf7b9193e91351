// The driver object's format, rate, buffer-size and clock calls over a device group the tests
// leave empty: the policy on its own, with the settings and the host reset it drives.
#include <gtest/gtest.h>

#include <cstring>

#include "driver_fixture.h"
#include "support/kernel_test.h"

namespace asio_test {
namespace {

class DriverFormatsTest : public tarnlink::kernel::testing::KernelTest {
 protected:
  // A driver object as selection leaves it: 48 kHz on devices that run 44.1 to 768 kHz, the
  // settings key read (and so created).
  static void Initialise(TestableDriver& driver) {
    ASSERT_TRUE(driver.OpenInstanceMutex());
    CmnRegUtil().CreateDefaults();
    driver.state_ = INITIALIZED;
    driver.asioRate_ = driver.pendingRate_ = 48000;
    driver.lowestRate_ = 44100;
    driver.highestRate_ = 768000;
    driver.RecomputeSampleType();
    RecordingHost::Messages().clear();
  }
  // A record as a host fills it: any number in FormatType, anything in the rest.
  static ASIOIoFormat Format(LONG type) {
    ASIOIoFormat format;
    std::memset(&format, 0x5A, sizeof format);
    std::memcpy(&format.FormatType, &type, sizeof type);
    return format;
  }
};

TEST_F(DriverFormatsTest, EveryCallRefusesBeforeInitialisation) {
  RunAsUser([] {
    TestableDriver driver;
    LONG a = 0, b = 0, c = 0, d = 0;
    ASIOSampleRate rate = 0;
    ASIOClockSource clock;
    EXPECT_EQ(driver.getBufferSize(&a, &b, &c, &d), ASE_NotPresent);
    EXPECT_EQ(driver.canSampleRate(48000), ASE_NotPresent);
    EXPECT_EQ(driver.getSampleRate(&rate), ASE_NotPresent);
    EXPECT_EQ(driver.setSampleRate(48000), ASE_NotPresent);
    EXPECT_EQ(driver.getClockSources(&clock, &a), ASE_NotPresent);
    EXPECT_EQ(driver.setClockSource(0), ASE_NotPresent);
    EXPECT_EQ(driver.future(kAsioCanTimeInfo, nullptr), ASE_NotPresent);
  });
}

TEST_F(DriverFormatsTest, TheHostGetsOnlyTheChosenBufferSize) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    LONG minimum = 0, maximum = 0, preferred = 0, granularity = -1;
    EXPECT_EQ(driver.getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minimum, 256);
    EXPECT_EQ(maximum, 256);
    EXPECT_EQ(preferred, 256);
    EXPECT_EQ(granularity, 0);
    EXPECT_EQ(driver.getBufferSize(&minimum, nullptr, &preferred, &granularity),
              ASE_InvalidParameter);
    // DSD at 2.8224 MHz: the device runs 88.2 kHz words of 32 one-bit samples.
    driver.ioFormat_.FormatType = kASIODSDFormat;
    driver.asioRate_ = 2822400;
    driver.RecomputeSampleType();
    EXPECT_EQ(driver.getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minimum, 16384);
    EXPECT_EQ(maximum, 16384);
    EXPECT_EQ(preferred, 16384);
  });
}

TEST_F(DriverFormatsTest, RatesAreCheckedAgainstTheModeAndTheDeviceRange) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    EXPECT_EQ(driver.canSampleRate(96000), ASE_OK);
    EXPECT_EQ(driver.canSampleRate(2822400), ASE_NoClock);
    EXPECT_EQ(driver.canSampleRate(96000.5), ASE_NoClock);
    EXPECT_EQ(driver.canSampleRate(1411200), ASE_NoClock);
    driver.highestRate_ = 1536000;
    EXPECT_EQ(driver.canSampleRate(1411200), ASE_OK);
    driver.ioFormat_.FormatType = kASIODSDFormat;
    EXPECT_EQ(driver.canSampleRate(2822400), ASE_OK);
    EXPECT_EQ(driver.canSampleRate(96000), ASE_NoClock);
  });
}

TEST_F(DriverFormatsTest, SetSampleRateStoresTheRateAndRefusesWhatCannotRun) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    EXPECT_EQ(driver.setSampleRate(0), ASE_InvalidMode);
    EXPECT_EQ(driver.setSampleRate(22050), ASE_NoClock);
    EXPECT_EQ(driver.setSampleRate(96000), ASE_OK);
    ASIOSampleRate rate = 0;
    EXPECT_EQ(driver.getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 96000);
    EXPECT_EQ(driver.pendingRate_, 96000u);
    CmnRegUtil settings;
    EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), 96000u);
    EXPECT_EQ(driver.getSampleRate(nullptr), ASE_InvalidParameter);
  });
}

// The control panel stored another rate meanwhile: setting the current rate again applies it
// to the setting; with nothing pending it changes nothing.
TEST_F(DriverFormatsTest, TheCurrentRateIsReappliedOnlyWhenThePendingRateDiffers) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    CmnRegUtil settings;
    settings.WriteNumber(kSettingSamplingRate, 44100);
    EXPECT_EQ(driver.setSampleRate(48000), ASE_OK);
    EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), 44100u);
    driver.pendingRate_ = 44100;
    EXPECT_EQ(driver.setSampleRate(48000), ASE_OK);
    EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), 48000u);
    EXPECT_EQ(driver.pendingRate_, 48000u);
  });
}

TEST_F(DriverFormatsTest, ARateChangeWithBuffersAsksTheHostForABlockingReset) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    ASIOCallbacks callbacks = RecordingHost::Callbacks();
    driver.callbacks_ = &callbacks;
    driver.state_ = PREPARED;
    EXPECT_EQ(driver.setSampleRate(88200), ASE_OK);
    EXPECT_EQ(RecordingHost::Messages(), std::vector<LONG>{kAsioResetRequest});
    EXPECT_EQ(driver.resetPending_, 1u);
  });
}

TEST_F(DriverFormatsTest, OneInternalClockWhoseReselectionIsReportedOnce) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    ASIOClockSource clocks[2];
    LONG count = 2;
    EXPECT_EQ(driver.getClockSources(clocks, &count), ASE_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(clocks[0].index, 0);
    EXPECT_EQ(clocks[0].associatedChannel, -1);
    EXPECT_EQ(clocks[0].associatedGroup, -1);
    EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
    EXPECT_STREQ(clocks[0].name, "Internal");
    EXPECT_EQ(driver.getClockSources(nullptr, &count), ASE_InvalidParameter);
    EXPECT_EQ(driver.setClockSource(1), ASE_NotPresent);
    EXPECT_EQ(driver.timeInfo_.timeInfo.flags, 0u);
    EXPECT_EQ(driver.setClockSource(0), ASE_OK);
    EXPECT_EQ(driver.timeInfo_.timeInfo.flags, static_cast<ULONG>(kClockSourceChanged));
  });
}

TEST_F(DriverFormatsTest, FutureSelectorsWithoutARecord) {
  struct Case {
    LONG selector;
    ASIOError result;
  };
  const Case cases[] = {
      {kAsioEnableTimeCodeRead, ASE_SUCCESS}, {kAsioDisableTimeCodeRead, ASE_SUCCESS},
      {kAsioSetInputMonitor, ASE_NotPresent}, {kAsioCanInputMonitor, ASE_NotPresent},
      {kAsioCanTimeInfo, ASE_SUCCESS},        {kAsioCanTimeCode, ASE_SUCCESS},
      {kAsioTransport, ASE_InvalidParameter}, {kAsioSetInputGain, ASE_InvalidParameter},
      {kAsioGetOutputMeter, ASE_InvalidParameter},
      {kAsioCanReportOverload, ASE_InvalidParameter},
      {kAsioSetIoFormat, ASE_InvalidParameter},  // no record
      {kAsioGetIoFormat, ASE_InvalidParameter},
      {kAsioCanDoIoFormat, ASE_InvalidParameter},
      {0x7FFFFFFF, ASE_InvalidParameter},
  };
  RunAsUser([&] {
    TestableDriver driver;
    Initialise(driver);
    for (const Case& c : cases) EXPECT_EQ(driver.future(c.selector, nullptr), c.result) << c.selector;
    EXPECT_EQ(driver.timeCodeEnabled_, 0u);
    driver.future(kAsioEnableTimeCodeRead, nullptr);
    EXPECT_EQ(driver.timeCodeEnabled_, 1u);
  });
}

TEST_F(DriverFormatsTest, DsdNeedsNativeDevicesAndThirtyTwoBitWords) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    driver.deviceBits_ = 24;
    driver.RecomputeSampleType();
    ASIOIoFormat dsd = Format(kASIODSDFormat);
    EXPECT_EQ(driver.future(kAsioCanDoIoFormat, &dsd), ASE_InvalidParameter);
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_InvalidParameter);
    EXPECT_EQ(driver.ioFormat_.FormatType, kASIOPCMFormat);

    // Native DSD but 24-bit words: refused, yet the record stays as the host gave it.
    driver.dsdCapable_ = 1;
    EXPECT_EQ(driver.future(kAsioCanDoIoFormat, &dsd), ASE_SUCCESS);
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_InvalidParameter);
    ASIOIoFormat stored = Format(kASIOPCMFormat);
    EXPECT_EQ(driver.future(kAsioGetIoFormat, &stored), ASE_SUCCESS);
    EXPECT_EQ(std::memcmp(&stored, &dsd, sizeof dsd), 0);

    driver.deviceBits_ = 32;
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_SUCCESS);
    EXPECT_EQ(driver.sampleType_, ASIOSTDSDInt8MSB1);
    ASIOIoFormat other = Format(7);
    EXPECT_EQ(driver.future(kAsioCanDoIoFormat, &other), ASE_InvalidParameter);
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &other), ASE_InvalidParameter);
    EXPECT_EQ(driver.ioFormat_.FormatType, kASIODSDFormat);
    ASIOIoFormat pcm = Format(kASIOPCMFormat);
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &pcm), ASE_SUCCESS);
    EXPECT_EQ(driver.sampleType_, ASIOSTInt32LSB);
  });
}

TEST_F(DriverFormatsTest, AFormatChangeWithBuffersAsksForAResetAndTheSameFormatDoesNot) {
  RunAsUser([] {
    TestableDriver driver;
    Initialise(driver);
    driver.dsdCapable_ = 1;
    ASIOCallbacks callbacks = RecordingHost::Callbacks();
    driver.callbacks_ = &callbacks;
    driver.state_ = PREPARED;
    ASIOIoFormat pcm = Format(kASIOPCMFormat);
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &pcm), ASE_SUCCESS);
    EXPECT_TRUE(RecordingHost::Messages().empty());
    ASIOIoFormat dsd = Format(kASIODSDFormat);
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_SUCCESS);
    EXPECT_EQ(RecordingHost::Messages(), std::vector<LONG>{kAsioResetRequest});
    EXPECT_EQ(driver.resetPending_, 1u);
  });
}

}  // namespace
}  // namespace asio_test
