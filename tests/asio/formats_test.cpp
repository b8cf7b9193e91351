// The buffer-size table, rate acceptance and the sample-type choice, as tables of cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "formats/buffer_sizes.h"
#include "formats/sample_rates.h"
#include "formats/sample_types.h"

namespace {

TEST(BufferSizes, EntriesScaleWithTheRateFamily) {
  struct Row {
    ULONG rate, first, middle, last;
  };
  const Row rows[] = {
      {32000, 4, 256, 512},     {44100, 4, 256, 512},     {48000, 4, 256, 512},
      {88200, 8, 512, 1024},    {96000, 8, 512, 1024},    {176400, 16, 1024, 2048},
      {192000, 16, 1024, 2048}, {352800, 32, 2048, 4096}, {384000, 32, 2048, 4096},
      {705600, 64, 4096, 8192}, {768000, 64, 4096, 8192}, {1411200, 128, 8192, 16384},
      // Below 44100 every rate counts as the base family.
      {22050, 4, 256, 512},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rate);
    EXPECT_EQ(BufferSizeFrames(0, row.rate), row.first);
    EXPECT_EQ(BufferSizeFrames(63, row.rate), row.middle);
    EXPECT_EQ(BufferSizeFrames(127, row.rate), row.last);
  }
  EXPECT_EQ(BufferSizeFrames(128, 48000), 0u);
  EXPECT_EQ(BufferSizeFrames(0xFFFFFFFF, 48000), 0u);
  EXPECT_EQ(BufferSizeFrames(63, 50000), 0u);
}

TEST(SampleRates, AcceptanceByModeAndRange) {
  struct Case {
    ULONG rate;
    bool dsd;
    ULONG lowest, highest;
    bool accepted;
    ULONG deviceRate;
  };
  const Case cases[] = {
      {48000, false, 44100, 768000, true, 48000},
      {32000, false, 44100, 768000, false, 0},  // below the range
      {2822400, false, 44100, 768000, false, 0},  // a DSD rate in PCM mode
      {2822400, true, 44100, 768000, true, 88200},
      {24576000, true, 44100, 768000, true, 768000},
      {24576000, true, 44100, 705600, false, 0},
      {48000, true, 32000, 768000, false, 0},  // a PCM rate in DSD mode
      {1411200, false, 44100, 1536000, true, 1411200},
      {1411200, false, 44100, 768000, false, 0},
      {50000, false, 32000, 768000, false, 0},  // within the range but no listed rate
      {45158400, true, 44100, 1536000, true, 1411200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << (c.dsd ? " DSD" : " PCM"));
    ULONG deviceRate = 0;
    EXPECT_EQ(AcceptRate(c.rate, c.dsd, c.lowest, c.highest, &deviceRate), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(deviceRate, c.deviceRate);
    }
  }
}

TEST(SampleRates, OnlyWholeHertzAreRates) {
  ULONG hertz = 0;
  EXPECT_TRUE(WholeRate(44100.0, &hertz));
  EXPECT_EQ(hertz, 44100u);
  for (double bad : {44100.5, -48000.0, 5e9, std::nan(""),
                     std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(WholeRate(bad, &hertz)) << bad;
  }
}

TEST(SampleTypes, ChoiceByFormatBitsAndFloat) {
  struct Case {
    ASIOIoFormatType format;
    ULONG bits;
    bool allFloat;
    ASIOSampleType type;
  };
  const Case cases[] = {
      {kASIOPCMFormat, 16, false, ASIOSTInt16LSB},
      {kASIOPCMFormat, 24, true, ASIOSTInt24LSB},
      {kASIOPCMFormat, 32, false, ASIOSTInt32LSB},
      {kASIOPCMFormat, 32, true, ASIOSTFloat32LSB},
      {kASIOPCMFormat, 8, false, kUnsupportedSampleType},
      {kASIODSDFormat, 32, false, ASIOSTDSDInt8MSB1},
      {kASIODSDFormat, 24, false, kUnsupportedSampleType},
      {kASIOFormatInvalid, 32, false, kUnsupportedSampleType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " " << c.bits);
    EXPECT_EQ(ChooseSampleType(c.format, c.bits, c.allFloat), c.type);
  }
}

TEST(SampleTypes, FormatTagsOfTheStream) {
  EXPECT_EQ(FormatTagOf(ASIOSTFloat32LSB), 3);
  EXPECT_EQ(FormatTagOf(ASIOSTFloat32MSB), 3);
  EXPECT_EQ(FormatTagOf(ASIOSTFloat64LSB), 0);
  EXPECT_EQ(FormatTagOf(ASIOSTFloat64MSB), 0);
  for (ASIOSampleType pcm : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTDSDInt8MSB1})
    EXPECT_EQ(FormatTagOf(pcm), 1) << pcm;
  EXPECT_TRUE(IsDsdSampleType(ASIOSTDSDInt8LSB1));
  EXPECT_TRUE(IsDsdSampleType(ASIOSTDSDInt8MSB1));
  EXPECT_FALSE(IsDsdSampleType(ASIOSTDSDInt8NER8));
}

}  // namespace
