#include "length_header_packets.h"

#include <gtest/gtest.h>

#include <numeric>

#include "packet_test_support.h"

namespace {

constexpr IsoStreamShape kFullSpeedStereo16{FALSE, 1, 4};
constexpr UCHAR kGuard = 0xA5;

ULONG HeaderAt(const std::vector<UCHAR>& buffer, ULONG offset) {
  return buffer[offset] | buffer[offset + 1] << 8 | buffer[offset + 2] << 16 |
         ULONG{buffer[offset + 3]} << 24;
}

std::vector<UCHAR> Audio(ULONG bytes) {
  std::vector<UCHAR> audio(bytes);
  std::iota(audio.begin(), audio.end(), UCHAR{1});
  return audio;
}

TEST(LengthHeaderPackets, EachPacketLeadsWithItsLength) {
  PlaybackPacing pacing = PatternPacing(44100, FALSE);
  const ULONG bytes = GetTransferBytes(kFullSpeedStereo16, pacing, 2, 0);
  ASSERT_EQ(bytes, (45 + 44) * 4u);
  const ULONG count = BuildPlaybackPackets(kFullSpeedStereo16, pacing, bytes, 2, nullptr, 0);
  ASSERT_EQ(count, 2u);
  const std::vector<UCHAR> audio = Audio(bytes);
  const ULONG size = LengthHeaderBufferBytes(bytes, count);
  std::vector<UCHAR> buffer(size + 16, kGuard);
  std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets(count);

  EXPECT_EQ(BuildLengthHeaderPackets(kFullSpeedStereo16, pacing, audio.data(), bytes, buffer.data(),
                                     size, packets.data(), count),
            bytes + 8);
  EXPECT_EQ(ToList(packets), PacketList({{0, 184}, {184, 180}}));
  EXPECT_EQ(HeaderAt(buffer, 0), 180u);
  EXPECT_EQ(HeaderAt(buffer, 184), 176u);
  EXPECT_TRUE(std::equal(audio.begin(), audio.begin() + 180, buffer.begin() + 4));
  EXPECT_TRUE(std::equal(audio.begin() + 180, audio.end(), buffer.begin() + 188));
  EXPECT_EQ(buffer[size], kGuard);
  EXPECT_EQ(pacing.patternPosition, 2u);  // one entry per packet
}

TEST(LengthHeaderPackets, AFullBufferEndsTheTransferWithinItsBounds) {
  for (ULONG size : {0u, 4u, 100u, 188u, 190u}) {
    PlaybackPacing pacing = PatternPacing(44100, FALSE);
    const std::vector<UCHAR> audio = Audio(356);
    std::vector<UCHAR> buffer(size + 16, kGuard);
    std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets(2);
    const ULONG written = BuildLengthHeaderPackets(kFullSpeedStereo16, pacing, audio.data(), 356,
                                                   buffer.data(), size, packets.data(), 2);
    EXPECT_LE(written, size);
    for (ULONG i = size; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], kGuard) << "size " << size << " byte " << i;
    }
    for (const auto& packet : packets) {
      EXPECT_LE(packet.Offset + packet.Length, written) << size;
    }
  }
}

TEST(LengthHeaderPackets, BufferSizeRefusesOverflow) {
  EXPECT_EQ(LengthHeaderBufferBytes(356, 2), 364u);
  EXPECT_EQ(LengthHeaderBufferBytes(0xFFFFFFF0u, 8), 0u);
}

}  // namespace
