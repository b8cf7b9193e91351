// Helpers for the packet layout tests: run both phases and compare the packets as pairs.
#pragma once

#include <utility>
#include <vector>

#include "playback_packets.h"

using PacketList = std::vector<std::pair<ULONG, ULONG>>;  // (offset, length)

inline PacketList ToList(const std::vector<USBD_ISO_PACKET_DESCRIPTOR>& packets) {
  PacketList list;
  for (const auto& packet : packets) {
    list.emplace_back(packet.Offset, packet.Length);
  }
  return list;
}

// Counts, then fills an array of exactly the counted size, as the transfer engine does.
inline PacketList Build(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                        ULONG milliseconds) {
  const ULONG count = BuildPlaybackPackets(shape, pacing, bytes, milliseconds, nullptr, 0);
  std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets(count, {0xDEAD, 0xDEAD, -1});
  EXPECT_EQ(BuildPlaybackPackets(shape, pacing, bytes, milliseconds, packets.data(), count), count);
  return ToList(packets);
}

// Consecutive packets of the given lengths from offset 0.
inline PacketList Consecutive(const std::vector<ULONG>& lengths) {
  PacketList list;
  ULONG offset = 0;
  for (ULONG length : lengths) {
    list.emplace_back(offset, length);
    offset += length;
  }
  return list;
}

inline std::vector<ULONG> Repeat(ULONG value, ULONG count) {
  return std::vector<ULONG>(count, value);
}

inline std::vector<ULONG> Join(std::vector<ULONG> a, const std::vector<ULONG>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline PlaybackPacing PatternPacing(ULONG rate, BOOLEAN highSpeed) {
  return {.mode = PlaybackPacingMode::RatePattern,
          .pattern = RatePatternForSpeed(*FindRatePatternRow(rate), highSpeed)};
}

inline PlaybackPacing FeedbackPacing(ULONG feedback, LONG accumulator) {
  return {.mode = PlaybackPacingMode::ExplicitFeedback,
          .feedback = feedback,
          .accumulator = accumulator};
}

inline PlaybackPacing ImplicitPacing(ULONG nominal, BOOLEAN integralRate) {
  return {.mode = PlaybackPacingMode::ImplicitFeedback,
          .nominalPacketBytes = nominal,
          .integralRate = integralRate};
}

// Storage for an isochronous URB of n packets, aligned as the USBD library's.
struct IsoUrbStorage {
  std::vector<ULONGLONG> words;
  explicit IsoUrbStorage(ULONG packets) : words(GET_ISO_URB_SIZE(packets) / 8 + 1) {}
  struct _URB_ISOCH_TRANSFER& Urb() {
    return reinterpret_cast<PURB>(words.data())->UrbIsochronousTransfer;
  }
  PacketList Packets() {
    return ToList({Urb().IsoPacket, Urb().IsoPacket + Urb().NumberOfPackets});
  }
};
