// The records as the other process writes them: little-endian bytes at fixed offsets. This file
// includes the protocol as user-mode code does, so the shared header is built on that side too.
#include <gtest/gtest.h>

#include <cstring>

#include "asio_protocol.h"

namespace {

template <typename T>
void PutLe(UCHAR* at, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<UCHAR>(value >> (8 * i));
}

TEST(AsioProtocol, PrepareRequestReadsTheClientsBytesAtTheirOffsets) {
  UCHAR wire[36] = {};
  PutLe<ULONG>(wire + 0, 256);
  PutLe<ULONG>(wire + 4, 1);
  PutLe<ULONG>(wire + 8, 1);
  PutLe<ULONG>(wire + 12, 150);
  PutLe<USHORT>(wire + 16, 1);
  PutLe<USHORT>(wire + 18, 3);
  PutLe<ULONGLONG>(wire + 20, 0x1122334455667788ull);
  PutLe<ULONGLONG>(wire + 28, 0x0000000000000ABCull);
  PrepareRequest request;
  std::memcpy(&request, wire, sizeof wire);
  EXPECT_EQ(request.periodFrames, 256u);
  EXPECT_EQ(request.captureWanted, 1u);
  EXPECT_EQ(request.playbackWanted, 1u);
  EXPECT_EQ(request.latencyPercent, 150u);
  EXPECT_EQ(request.dsd, 1u);
  EXPECT_EQ(request.formatTag, 3u);
  // Read by value: the handles lie at offsets no 64-bit reference may bind to.
  const ULONGLONG periodEvent = request.periodEvent;
  const ULONGLONG outputEvent = request.outputEvent;
  EXPECT_EQ(periodEvent, 0x1122334455667788ull);
  EXPECT_EQ(outputEvent, 0xABCull);
}

TEST(AsioProtocol, ThirteenFormatRecordsFillTheClientsTwoHundredEightySixBytes) {
  FormatQueryRecord records[13] = {};
  ASSERT_EQ(sizeof records, 286u);
  records[12].formatTag = ASIO_FORMAT_FLOAT;
  records[12].sampleRate = 384000;
  records[12].captureBits = 32;
  const auto* bytes = reinterpret_cast<const UCHAR*>(records);
  EXPECT_EQ(bytes[12 * 22 + 0], 3);
  EXPECT_EQ(bytes[12 * 22 + 2], 0x00);  // 384000 = 0x0005DC00
  EXPECT_EQ(bytes[12 * 22 + 3], 0xDC);
  EXPECT_EQ(bytes[12 * 22 + 4], 0x05);
  EXPECT_EQ(bytes[12 * 22 + 18], 32);
}

}  // namespace
