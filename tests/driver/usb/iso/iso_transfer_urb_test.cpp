#include "iso_transfer_urb.h"

#include <gtest/gtest.h>

#include <vector>

#include "packet_test_support.h"

namespace {

USBD_PIPE_INFORMATION IsoPipe(USHORT maxPacket, UCHAR interval, UCHAR address = 0x81) {
  return {maxPacket,
          address,
          interval,
          UsbdPipeTypeIsochronous,
          reinterpret_cast<USBD_PIPE_HANDLE>(0x1234),
          0,
          0};
}

TEST(PipeTransferPackets, HighSpeedRoundsToWholeMilliseconds) {
  struct Case {
    BOOLEAN highSpeed;
    UCHAR interval;
    ULONG bytes, packets;
  } cases[] = {
      {TRUE, 1, 3 * 56, 8}, {TRUE, 1, 9 * 56, 16}, {TRUE, 2, 5 * 56, 8},      {TRUE, 3, 3 * 56, 4},
      {TRUE, 4, 3 * 56, 3}, {TRUE, 5, 3 * 56, 3},  {FALSE, 1, 3 * 56 + 1, 4}, {FALSE, 1, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PipeTransferPacketCount(IsoPipe(56, c.interval), c.bytes, c.highSpeed), c.packets)
        << int(c.highSpeed) << " interval " << int(c.interval) << " bytes " << c.bytes;
  }
  EXPECT_EQ(PipeTransferPacketCount(IsoPipe(0, 1), 100, TRUE), 0u);
}

TEST(PipeTransferPackets, PacketsStayInsideTheBuffer) {
  IsoUrbStorage in(8);
  char buffer[168];
  FillPipeIsochUrb(in.Urb(), IsoPipe(56, 1), buffer, sizeof buffer, kIsoReadFlags | 0x100, 0, 8);
  EXPECT_EQ(
      in.Packets(),
      PacketList({{0, 0}, {56, 0}, {112, 0}, {168, 0}, {168, 0}, {168, 0}, {168, 0}, {168, 0}}));
  EXPECT_EQ(in.Urb().TransferFlags, kIsoReadFlags);
  EXPECT_EQ(in.Urb().TransferBufferLength, 168u);
  EXPECT_EQ(in.Urb().PipeHandle, reinterpret_cast<USBD_PIPE_HANDLE>(0x1234));

  IsoUrbStorage out(2);
  FillPipeIsochUrb(out.Urb(), IsoPipe(56, 1, 0x01), buffer, 100, USBD_START_ISO_TRANSFER_ASAP, 77,
                   2);
  EXPECT_EQ(out.Packets(), PacketList({{0, 56}, {56, 44}}));
  EXPECT_EQ(out.Urb().StartFrame, 77u);
}

TEST(FeedbackReads, PacketsAndBufferSize) {
  EXPECT_EQ(FeedbackReadPacketCount(IsoPipe(4, 1), 4), 1u);
  EXPECT_EQ(FeedbackReadPacketCount(IsoPipe(4, 1), 2), 1u);
  EXPECT_EQ(FeedbackReadPacketCount(IsoPipe(4, 1), 128), 32u);
  EXPECT_EQ(FeedbackReadPacketCount(IsoPipe(3, 1), 13), 5u);
  EXPECT_EQ(FeedbackReadPacketCount(IsoPipe(0, 1), 4), 0u);

  const USBD_PIPE_INFORMATION fullSpeed = IsoPipe(3, 1);
  const USBD_PIPE_INFORMATION everyMicroframe = IsoPipe(4, 1);
  const USBD_PIPE_INFORMATION everyMillisecond = IsoPipe(4, 4);
  EXPECT_EQ(FeedbackBufferSize(&fullSpeed, FALSE), 12u);
  EXPECT_EQ(FeedbackBufferSize(&everyMicroframe, TRUE), 128u);
  EXPECT_EQ(FeedbackBufferSize(&everyMillisecond, TRUE), 16u);
  EXPECT_EQ(FeedbackBufferSize(nullptr, TRUE), 0u);
}

TEST(BulkOrInterruptUrb, AcceptsShortTransfers) {
  URB urb{};
  char buffer[64];
  USBD_PIPE_INFORMATION pipe = IsoPipe(64, 1);
  pipe.PipeType = UsbdPipeTypeInterrupt;
  FillBulkOrInterruptUrb(&urb, pipe, buffer, sizeof buffer, USBD_TRANSFER_DIRECTION_IN);
  const auto& bulk = urb.UrbBulkOrInterruptTransfer;
  EXPECT_EQ(bulk.Hdr.Function, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER);
  EXPECT_EQ(bulk.Hdr.Length, 128u);
  EXPECT_EQ(bulk.TransferFlags, ULONG{USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK});
  EXPECT_EQ(bulk.TransferBufferLength, 64u);
  EXPECT_EQ(bulk.TransferBuffer, buffer);
}

TEST(IsoTransferDuration, PacketsTimesIntervalInMilliseconds) {
  struct Case {
    ULONG packets;
    UCHAR interval;
    USHORT bcdUSB;
    BOOLEAN highSpeed;
    ULONG milliseconds;
  } cases[] = {
      {8, 1, 0x0200, TRUE, 1},    {16, 2, 0x0200, TRUE, 4},   {3, 1, 0x0200, TRUE, 1},
      {10, 1, 0x0110, FALSE, 10}, {10, 1, 0x0200, FALSE, 10}, {4, 2, 0x0110, FALSE, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsoTransferDurationMs(c.packets, c.interval, c.bcdUSB, c.highSpeed), c.milliseconds)
        << c.packets << " packets, interval " << int(c.interval);
  }
}

}  // namespace
