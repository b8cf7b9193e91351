#include "feedback_value.h"

#include <gtest/gtest.h>

#include <vector>

#include "driver_types.h"

namespace {

TEST(NominalFeedback, PerFrameAtFullSpeedPerIntervalAtHighSpeed) {
  struct Case {
    ULONG rate;
    BOOLEAN highSpeed;
    ULONG direction, interval, value;
  } cases[] = {
      {44100, FALSE, Value(Direction::Playback), 1, 0x2C1999},
      {48000, FALSE, Value(Direction::Capture), 1, 0x300000},
      {48000, TRUE, Value(Direction::Playback), 1, 0x60000},
      {44100, TRUE, Value(Direction::Playback), 1, 0x58333},
      {48000, TRUE, Value(Direction::Playback), 2, 0xC0000},
      {48000, TRUE, Value(Direction::Playback), 8, 0x300000},
      {48000, TRUE, Value(Direction::Capture), 4, 0x60000},
      {48000, TRUE, Value(Direction::Playback), 16, 0x300000},
      {768000, TRUE, Value(Direction::Playback), 1, 0x600000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NominalFeedback(c.rate, c.highSpeed, c.direction, c.interval), c.value)
        << c.rate << " interval " << c.interval;
  }
}

struct Packet {
  std::vector<UCHAR> bytes;
  USBD_STATUS status = USBD_STATUS_SUCCESS;
};

// Lays the packets out at a fixed stride, as a feedback read of 4-byte slots returns them.
struct ReadBuilder {
  std::vector<UCHAR> buffer;
  std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets;

  explicit ReadBuilder(const std::vector<Packet>& list) : buffer(4 * list.size()) {
    for (size_t k = 0; k < list.size(); ++k) {
      std::copy(list[k].bytes.begin(), list[k].bytes.end(), buffer.begin() + 4 * k);
      packets.push_back({ULONG(4 * k), ULONG(list[k].bytes.size()), list[k].status});
    }
  }
  FeedbackRead Read() const {
    return {packets.data(), ULONG(packets.size()), buffer.data(), ULONG(buffer.size()),
            ULONG(buffer.size())};
  }
};

const std::vector<UCHAR> k10_14 = {0x66, 0x06, 0x0B};         // 0x0B0666 -> 0x2C1998
const std::vector<UCHAR> k16_16a = {0x00, 0x00, 0x06, 0x00};  // 0x60000
const std::vector<UCHAR> k16_16b = {0x33, 0x83, 0x05, 0x00};  // 0x58333
const std::vector<UCHAR> kHuge = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr USBD_STATUS kPacketFailed = static_cast<USBD_STATUS>(0xC0000011);

TEST(DecodeFeedback, AveragesThePacketsOfARead) {
  struct Case {
    const char* name;
    std::vector<Packet> packets;
    ULONG lastBefore, average, lastAfter;
  } cases[] = {
      {"four full-speed 10.14 packets",
       {{k10_14}, {k10_14}, {k10_14}, {k10_14}},
       0,
       0x2C1998,
       0x2C1998},
      {"an empty packet repeats the one before",
       {{k16_16a}, {{}}, {k16_16b}},
       0,
       (0x60000 * 2 + 0x58333) / 3,
       0x58333},
      {"an empty first packet repeats the last read",
       {{{}}, {k16_16a}},
       0x58333,
       (0x58333 + 0x60000) / 2,
       0x60000},
      {"failed packets are skipped", {{k16_16a, kPacketFailed}, {k16_16b}}, 0, 0x58333, 0x58333},
      {"odd lengths are skipped", {{{1, 2}}, {k16_16a}}, 0, 0x60000, 0x60000},
      {"nothing usable", {{{1, 2}}, {k16_16a, kPacketFailed}}, 0x58333, 0, 0x58333},
      {"large values do not wrap the average", {{kHuge}, {kHuge}}, 0, 0xFFFFFFFF, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    ReadBuilder read(c.packets);
    ULONG last = c.lastBefore;
    EXPECT_EQ(DecodeFeedback(read.Read(), last), c.average) << c.name;
    EXPECT_EQ(last, c.lastAfter) << c.name;
  }
}

TEST(DecodeFeedback, AnEmptyReadRepeatsTheLastValue) {
  ReadBuilder read({{k16_16a}});
  FeedbackRead empty = read.Read();
  empty.transferLength = 0;
  ULONG last = 0x58333;
  EXPECT_EQ(DecodeFeedback(empty, last), 0x58333u);
  EXPECT_EQ(last, 0x58333u);
}

TEST(DecodeFeedback, PacketsOutsideTheBufferAreNotRead) {
  ReadBuilder read({{k16_16a}, {k16_16b}});
  read.packets[1].Offset = 6;  // its last two bytes lie past the buffer
  FeedbackRead outside = read.Read();
  ULONG last = 0;
  EXPECT_EQ(DecodeFeedback(outside, last), 0x60000u);
  read.packets[0].Offset = 0xFFFFFFFE;  // offset plus length wraps in 32 bits
  EXPECT_EQ(DecodeFeedback(read.Read(), last), 0u);
}

}  // namespace
