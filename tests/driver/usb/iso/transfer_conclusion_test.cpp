#include "transfer_conclusion.h"

#include <gtest/gtest.h>

#include "packet_test_support.h"

namespace {

constexpr TransferFacts kHighSpeed{TRUE, 0x0200, 1, 0, 0, FALSE};

TEST(ConcludeTransfer, PlaybackReportsItsLengthFrameAndDuration) {
  struct Case {
    const char* name;
    NTSTATUS irpStatus;
    TransferFacts facts;
    NTSTATUS status;
    ULONG bytes, startFrame, durationMs;
  } cases[] = {
      {"one millisecond at high speed", STATUS_SUCCESS, kHighSpeed, STATUS_SUCCESS, 384, 77, 1},
      {"length headers report the audio bytes",
       STATUS_SUCCESS,
       {TRUE, 0x0200, 1, 0, 352, TRUE},
       STATUS_SUCCESS,
       352,
       77,
       1},
      {"full speed, one packet per frame",
       STATUS_SUCCESS,
       {FALSE, 0x0110, 1, 0, 0, FALSE},
       STATUS_SUCCESS,
       384,
       77,
       8},
      {"a failed request moved nothing", STATUS_UNSUCCESSFUL, kHighSpeed, STATUS_UNSUCCESSFUL, 0, 0,
       1},
  };
  for (const Case& c : cases) {
    IsoUrbStorage storage(8);
    auto& iso = storage.Urb();
    iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBufferLength = 384;
    iso.StartFrame = 77;
    iso.NumberOfPackets = 8;
    const TransferConclusion result =
        ConcludeTransfer(c.irpStatus, reinterpret_cast<PURB>(storage.words.data()), c.facts);
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_EQ(result.bytes, c.bytes) << c.name;
    EXPECT_EQ(result.startFrame, c.startFrame) << c.name;
    EXPECT_EQ(result.durationMs, c.durationMs) << c.name;
  }
}

TEST(ConcludeTransfer, CaptureIsPackedWithinTheSubmittedBuffer) {
  std::vector<UCHAR> buffer(168);
  IsoUrbStorage storage(3);
  auto& iso = storage.Urb();
  iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
  iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
  iso.TransferBuffer = buffer.data();
  iso.TransferBufferLength = 136;  // what the controller counted
  iso.StartFrame = 9;
  iso.NumberOfPackets = 3;
  // The last packet claims more than the 168 bytes submitted.
  const ULONG lengths[] = {48, 40, 96};
  for (ULONG k = 0; k < 3; ++k) iso.IsoPacket[k] = {k * 56, lengths[k], USBD_STATUS_SUCCESS};
  const TransferFacts facts{TRUE, 0x0200, 1, 168, 0, FALSE};
  const TransferConclusion result =
      ConcludeTransfer(STATUS_SUCCESS, reinterpret_cast<PURB>(storage.words.data()), facts);
  EXPECT_EQ(result.status, STATUS_UNEXPECTED_IO_ERROR);
  EXPECT_EQ(result.bytes, 48u + 40 + 56);
  EXPECT_EQ(result.startFrame, 9u);
  EXPECT_EQ(result.durationMs, 1u);
}

TEST(ConcludeTransfer, BulkRequestsReportTheirLengthAndNoDuration) {
  URB urb{};
  urb.UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
  urb.UrbBulkOrInterruptTransfer.TransferBufferLength = 12;
  const TransferConclusion result = ConcludeTransfer(STATUS_SUCCESS, &urb, kHighSpeed);
  EXPECT_EQ(result.bytes, 12u);
  EXPECT_EQ(result.durationMs, 0u);
  EXPECT_EQ(ConcludeTransfer(STATUS_CANCELLED, &urb, kHighSpeed).bytes, 0u);
}

TEST(ConcludeFeedbackRead, DecodesSuccessfulReadsOnly) {
  const UCHAR value[4] = {0x00, 0x00, 0x06, 0x00};
  IsoUrbStorage storage(1);
  auto& iso = storage.Urb();
  iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
  iso.TransferBufferLength = 4;
  iso.StartFrame = 5;
  iso.NumberOfPackets = 1;
  iso.IsoPacket[0] = {0, 4, USBD_STATUS_SUCCESS};
  PURB urb = reinterpret_cast<PURB>(storage.words.data());
  ULONG last = 0;
  const FeedbackConclusion good = ConcludeFeedbackRead(STATUS_SUCCESS, urb, value, 4, last);
  EXPECT_EQ(good.average, 0x60000u);
  EXPECT_EQ(good.startFrame, 5u);
  const FeedbackConclusion failed = ConcludeFeedbackRead(STATUS_UNSUCCESSFUL, urb, value, 4, last);
  EXPECT_EQ(failed.average, 0u);
  EXPECT_EQ(failed.startFrame, 0u);
  EXPECT_EQ(ConcludeFeedbackRead(STATUS_SUCCESS, urb, nullptr, 4, last).average, 0u);
}

}  // namespace
