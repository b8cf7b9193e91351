#include "capture_completion.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UCHAR kGuard = 0xEE;

// A completed capture request of 56-byte slots whose packets report the given lengths; each
// packet's bytes carry its index + 1 so the packing can be followed.
struct CompletedCapture {
  std::vector<UCHAR> storage;  // the buffer followed by guard bytes
  std::vector<ULONGLONG> urbWords;
  ULONG bufferBytes;

  CompletedCapture(const std::vector<std::pair<ULONG, ULONG>>& packets, ULONG bufferBytes_)
      : storage(bufferBytes_ + 64, kGuard),
        urbWords(GET_ISO_URB_SIZE(packets.size()) / 8 + 1),
        bufferBytes(bufferBytes_) {
    auto& urb = Urb();
    urb.TransferBuffer = storage.data();
    urb.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    urb.NumberOfPackets = ULONG(packets.size());
    for (size_t k = 0; k < packets.size(); ++k) {
      urb.IsoPacket[k] = {packets[k].first, packets[k].second, USBD_STATUS_SUCCESS};
      for (ULONG i = 0; i < packets[k].second && packets[k].first + i < bufferBytes; ++i) {
        storage[packets[k].first + i] = UCHAR(k + 1);
      }
    }
  }
  struct _URB_ISOCH_TRANSFER& Urb() {
    return reinterpret_cast<PURB>(urbWords.data())->UrbIsochronousTransfer;
  }
  std::vector<UCHAR> Packed(ULONG bytes) const {
    return {storage.begin(), storage.begin() + bytes};
  }
  bool GuardIntact() const {
    for (size_t i = bufferBytes; i < storage.size(); ++i) {
      if (storage[i] != kGuard) return false;
    }
    return true;
  }
};

std::vector<UCHAR> Runs(const std::vector<std::pair<UCHAR, ULONG>>& runs) {
  std::vector<UCHAR> bytes;
  for (auto [value, count] : runs) bytes.insert(bytes.end(), count, value);
  return bytes;
}

TEST(CaptureCompletion, PacksPacketsAndChecksTheWindow) {
  struct Case {
    ULONG minimum;
    NTSTATUS status;
  } cases[] = {{40, STATUS_SUCCESS}, {48, STATUS_UNEXPECTED_IO_ERROR}};
  for (const Case& c : cases) {
    CompletedCapture capture({{0, 48}, {56, 40}, {112, 48}}, 168);
    const CapturePacketWindow window{c.minimum, 56};
    const CaptureResult result =
        FinishCaptureTransfer(STATUS_SUCCESS, capture.Urb(), capture.bufferBytes);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(ValidateCapturePackets(result.status, capture.Urb(), &window), c.status) << c.minimum;
    EXPECT_EQ(result.bytes, 136u);
    EXPECT_EQ(capture.Packed(136), Runs({{1, 48}, {2, 40}, {3, 48}}));
  }
}

TEST(CaptureCompletion, UntrustedLengthsNeverMoveBytesOutsideTheBuffer) {
  struct Case {
    const char* name;
    std::vector<std::pair<ULONG, ULONG>> packets;
    ULONG bytes;
    ULONG failed;
  } cases[] = {
      {"first packet longer than its slot", {{0, 60}, {56, 40}, {112, 48}}, 56 + 40 + 48, 1},
      {"last packet longer than the buffer's end",
       {{0, 48}, {56, 48}, {112, 500}},
       48 + 48 + 56,
       1},
      {"offset past the buffer", {{0, 48}, {400, 48}}, 48, 1},
      {"huge length and offset", {{0, 0xFFFFFFFF}, {0xFFFFFFF0, 0xFFFFFFFF}}, 168, 2},
      {"offsets that run backwards", {{0, 48}, {112, 48}, {56, 48}}, 96, 1},
  };
  for (const Case& c : cases) {
    CompletedCapture capture(c.packets, 168);
    auto& urb = capture.Urb();
    const CaptureCompaction packed =
        CompactCapturePackets(capture.storage.data(), 168, urb.IsoPacket, urb.NumberOfPackets);
    EXPECT_EQ(packed.bytes, c.bytes) << c.name;
    EXPECT_EQ(packed.failedPackets, c.failed) << c.name;
    EXPECT_TRUE(capture.GuardIntact()) << c.name;
    const CaptureCompaction again =
        CompactCapturePackets(capture.storage.data(), 168, urb.IsoPacket, urb.NumberOfPackets);
    EXPECT_EQ(again.failedPackets, 0u) << c.name << ": the kept lengths are written back";

    CompletedCapture fresh(c.packets, 168);
    EXPECT_EQ(FinishCaptureTransfer(STATUS_SUCCESS, fresh.Urb(), 168).status,
              STATUS_UNEXPECTED_IO_ERROR)
        << c.name;
  }
}

TEST(CaptureCompletion, OnlySuccessfulInRequestsAreChecked) {
  CompletedCapture capture({{0, 8}}, 56);
  const CapturePacketWindow window{40, 56};
  EXPECT_EQ(ValidateCapturePackets(STATUS_UNSUCCESSFUL, capture.Urb(), &window),
            STATUS_UNSUCCESSFUL);
  EXPECT_EQ(ValidateCapturePackets(STATUS_SUCCESS, capture.Urb(), nullptr), STATUS_SUCCESS);
  capture.Urb().TransferFlags = USBD_START_ISO_TRANSFER_ASAP;
  EXPECT_EQ(ValidateCapturePackets(STATUS_SUCCESS, capture.Urb(), &window), STATUS_SUCCESS);
}

}  // namespace
