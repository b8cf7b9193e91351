// What an endpoint descriptor means on the bus, and how large a stream's packets get.
#include "endpoint_timing.h"

#include <gtest/gtest.h>

namespace tarnlink::tool {
namespace {

struct TimingCase {
  const char* name;
  bool highSpeed;
  uint16_t wMaxPacketSize;
  uint8_t bInterval;
  uint32_t intervalUs;
  uint32_t transactions;
  uint32_t capacity;
};

class EndpointTimingTest : public ::testing::TestWithParam<TimingCase> {};

TEST_P(EndpointTimingTest, ReadsIntervalAndCapacity) {
  const TimingCase& c = GetParam();
  USB_ENDPOINT_DESCRIPTOR e = {7, 5, 0x01, 0x05, c.wMaxPacketSize, c.bInterval};
  const EndpointTiming t = TimingOf(e, c.highSpeed);
  EXPECT_EQ(t.intervalUs, c.intervalUs);
  EXPECT_EQ(t.transactions, c.transactions);
  EXPECT_EQ(t.Capacity(), c.capacity);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, EndpointTimingTest,
    ::testing::Values(TimingCase{"HighSpeedEveryMicroframe", true, 776, 1, 125, 1, 776},
                      TimingCase{"HighSpeedEveryFrame", true, 4, 4, 1000, 1, 4},
                      TimingCase{"FullSpeedEveryFrame", false, 196, 1, 1000, 1, 196},
                      // Bits 11..12 add transactions only at high speed.
                      TimingCase{"HighSpeedThreeTransactions", true, 0x1400, 1, 125, 3, 3072},
                      TimingCase{"FullSpeedIgnoresTransactionBits", false, 0x1000 | 1023, 1, 1000,
                                 1, 1023},
                      // Reserved values: the count of 3 additional and intervals outside 1..16.
                      TimingCase{"ReservedTransactionCount", true, 0x1800 | 1024, 1, 125, 3, 3072},
                      TimingCase{"IntervalZero", true, 8, 0, 125, 1, 8},
                      TimingCase{"IntervalBeyondSixteen", true, 8, 255, 125u << 15, 1, 8}),
    [](const ::testing::TestParamInfo<TimingCase>& param) { return param.param.name; });

TEST(LargestPacketTest, OneFrameMoreThanTheWholeFramesOfAnInterval) {
  EXPECT_EQ(LargestPacketBytes(8, 768000, 1000), 769u * 8);  // full speed: 768 frames a frame
  EXPECT_EQ(LargestPacketBytes(8, 768000, 125), 97u * 8);    // high speed: 96 a microframe
  EXPECT_EQ(LargestPacketBytes(6, 44100, 1000), 45u * 6);    // 44.1 frames a frame
  // A rate and interval no device has saturate instead of wrapping into a small size.
  EXPECT_EQ(LargestPacketBytes(4, 0xFFFFFFFF, 125u << 15), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace tarnlink::tool
