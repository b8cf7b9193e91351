// The isochronous schedule: ASAP start and continuation, late packets, packet capacity, abort
// and removal, all on the default catalogue device at high speed.
#include <gmock/gmock.h>

#include <cstring>

#include "bus_fixture.h"
#include "iso_urb.h"

namespace sim::usb::testing {
namespace {

class IsoScheduleTest : public BusTest {
 protected:
  void SetUp() override {
    BusTest::SetUp();
    info_ = StartPlayback(3, 48000);
    ASSERT_NE(info_, nullptr);
    data_ = info_->Pipes[0];
    // 48 kHz stereo 24-in-32: six frames of eight bytes per microframe.
    frameBytes_ = 8;
  }
  // An OUT URB of whole microframes at the nominal six frames each.
  std::unique_ptr<IsoUrb> Playback(ULONG packets) {
    return std::make_unique<IsoUrb>(data_.PipeHandle, packets, 6 * frameBytes_, false);
  }
  PUSBD_INTERFACE_INFORMATION info_ = nullptr;
  USBD_PIPE_INFORMATION data_{};
  ULONG frameBytes_ = 0;
};

TEST_F(IsoScheduleTest, AsapStartsAheadWhenIdleAndThenContinuesBackToBack) {
  auto first = Playback(8);
  auto second = Playback(8);
  Done a, b;
  const ULONG frame = controller_->CurrentFrame();
  ASSERT_EQ(controller_->SubmitUrb(first->urb(), OnComplete, &a), STATUS_PENDING);
  ASSERT_EQ(controller_->SubmitUrb(second->urb(), OnComplete, &b), STATUS_PENDING);
  EXPECT_EQ(first->iso().StartFrame, frame + 3);
  EXPECT_EQ(second->iso().StartFrame, frame + 4);
  ASSERT_TRUE(kernel().RunUntil([&] { return a.completed; }));
  EXPECT_FALSE(b.completed);
  EXPECT_EQ(controller_->CurrentFrame(), frame + 4) << "completes when its last microframe ends";
  ASSERT_TRUE(kernel().RunUntil([&] { return b.completed; }));
  EXPECT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(b.status, STATUS_SUCCESS);
  EXPECT_EQ(a.irql, DISPATCH_LEVEL);
  EXPECT_EQ(first->iso().ErrorCount, 0u);
  EXPECT_EQ(second->urb()->UrbHeader.Status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(device_->ViolationCount(), 0u);
}

TEST_F(IsoScheduleTest, AUrbSubmittedAfterItsFramesHavePassedFailsWithLatePackets) {
  auto first = Playback(8);
  ASSERT_EQ(Run(first->urb()), STATUS_SUCCESS);
  ASSERT_TRUE(kernel().RunFor(2 * kMs));
  // The stream continues where it stopped: the first two milliseconds are gone.
  auto late = Playback(32);
  ASSERT_EQ(Run(late->urb()), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(late->urb()->UrbHeader.Status, USBD_STATUS_ISOCH_REQUEST_FAILED);
  EXPECT_EQ(late->iso().IsoPacket[0].Status, USBD_STATUS_ISO_NOT_ACCESSED_LATE);
  EXPECT_EQ(late->iso().IsoPacket[15].Status, USBD_STATUS_ISO_NOT_ACCESSED_LATE);
  EXPECT_EQ(late->iso().IsoPacket[16].Status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(late->iso().ErrorCount, 16u);
}

TEST_F(IsoScheduleTest, PacketsAboveTheEndpointCapacityAreRefused) {
  const ULONG capacity = data_.MaximumPacketSize;
  IsoUrb fits(data_.PipeHandle, 2, capacity, false);
  EXPECT_EQ(Run(fits.urb()), STATUS_SUCCESS);
  IsoUrb over(data_.PipeHandle, 2, capacity, false);
  over.iso().IsoPacket[1].Offset = capacity - 1;  // packet 1 is now one byte too long
  Done never;
  EXPECT_EQ(controller_->SubmitUrb(over.urb(), OnComplete, &never), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(over.urb()->UrbHeader.Status, USBD_STATUS_INVALID_PARAMETER);
  IsoUrb backwards(data_.PipeHandle, 2, 8, false);
  backwards.iso().IsoPacket[1].Offset = 64;  // beyond the 16-byte buffer
  EXPECT_EQ(controller_->SubmitUrb(backwards.urb(), OnComplete, &never), STATUS_INVALID_PARAMETER);
  EXPECT_FALSE(never.completed);
}

TEST_F(IsoScheduleTest, LostBusTimeLeavesItsPacketsUnsent) {
  auto urb = Playback(16);
  const uint64_t start = (uint64_t{controller_->CurrentFrame()} + 3) * 8;
  controller_->Faults().lostTime.push_back({start + 4, start + 12});
  ASSERT_EQ(Run(urb->urb()), STATUS_SUCCESS) << "some packets still went out";
  EXPECT_EQ(urb->iso().IsoPacket[3].Status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(urb->iso().IsoPacket[4].Status, USBD_STATUS_ISO_NOT_ACCESSED_BY_HW);
  EXPECT_EQ(urb->iso().IsoPacket[11].Status, USBD_STATUS_ISO_NOT_ACCESSED_BY_HW);
  EXPECT_EQ(urb->iso().IsoPacket[12].Status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(urb->iso().ErrorCount, 8u);
}

TEST_F(IsoScheduleTest, AbortCancelsPendingUrbsBeforeItCompletes) {
  auto first = Playback(8);
  auto second = Playback(8);
  Done a, b;
  ASSERT_EQ(controller_->SubmitUrb(first->urb(), OnComplete, &a), STATUS_PENDING);
  ASSERT_EQ(controller_->SubmitUrb(second->urb(), OnComplete, &b), STATUS_PENDING);
  URB abort{};
  abort.UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
  abort.UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
  abort.UrbPipeRequest.PipeHandle = data_.PipeHandle;
  EXPECT_EQ(Run(&abort), STATUS_SUCCESS);
  ASSERT_TRUE(a.completed && b.completed);
  EXPECT_EQ(a.status, STATUS_CANCELLED);
  EXPECT_EQ(first->urb()->UrbHeader.Status, USBD_STATUS_CANCELED);
  EXPECT_EQ(b.status, STATUS_CANCELLED);
  // After the abort the pipe starts afresh, a few frames ahead.
  auto third = Playback(8);
  const ULONG frame = controller_->CurrentFrame();
  EXPECT_EQ(Run(third->urb()), STATUS_SUCCESS);
  EXPECT_EQ(third->iso().StartFrame, frame + 3);
}

TEST_F(IsoScheduleTest, RemovalFailsPendingAndNewUrbsAsWindowsDoes) {
  auto pending = Playback(64);
  Done a;
  ASSERT_EQ(controller_->SubmitUrb(pending->urb(), OnComplete, &a), STATUS_PENDING);
  controller_->ScheduleUnplug(5 * kMs);
  ASSERT_TRUE(kernel().RunUntil([&] { return a.completed; }));
  EXPECT_EQ(a.status, STATUS_NO_SUCH_DEVICE);
  EXPECT_EQ(pending->urb()->UrbHeader.Status, USBD_STATUS_DEVICE_GONE);
  auto after = Playback(8);
  Done never;
  EXPECT_EQ(controller_->SubmitUrb(after->urb(), OnComplete, &never), STATUS_DEVICE_NOT_CONNECTED);
}

// Injected IN faults on the feedback endpoint, packet by packet: lost transactions, short packets
// and corrupted values all reach the client as a real bus would deliver them.
TEST_F(IsoScheduleTest, InjectedFaultsReachTheFeedbackPackets) {
  const USBD_PIPE_INFORMATION feedback = info_->Pipes[1];
  const ULONG packetBytes = feedback.MaximumPacketSize;
  auto read = [&] {
    auto urb = std::make_unique<IsoUrb>(feedback.PipeHandle, 4, packetBytes, true);
    Run(urb->urb());
    return urb;
  };
  auto value = [](IsoUrb& urb, ULONG k) {
    uint32_t v = 0;
    std::memcpy(&v, urb.buffer.data() + urb.iso().IsoPacket[k].Offset, 4);
    return v;
  };

  auto clean = read();
  for (ULONG k = 0; k < 4; ++k) {
    ASSERT_EQ(clean->iso().IsoPacket[k].Status, USBD_STATUS_SUCCESS);
    ASSERT_EQ(clean->iso().IsoPacket[k].Length, 4u);
  }
  const uint32_t nominal = value(*clean, 0);

  controller_->Faults().dropEveryNth[feedback.EndpointAddress] = 2;
  auto dropped = read();
  ULONG lost = 0;
  for (ULONG k = 0; k < 4; ++k)
    lost += dropped->iso().IsoPacket[k].Status == USBD_STATUS_XACT_ERROR ? 1 : 0;
  EXPECT_EQ(lost, 2u) << "every second transaction is lost";
  EXPECT_EQ(dropped->iso().ErrorCount, 2u);
  controller_->Faults().dropEveryNth.clear();

  controller_->Faults().shortenBy[feedback.EndpointAddress] = 1;
  auto shortened = read();
  EXPECT_EQ(shortened->iso().IsoPacket[0].Length, 3u);
  controller_->Faults().shortenBy.clear();

  controller_->Faults().feedbackOffset[feedback.EndpointAddress] = 0x100000;
  auto corrupted = read();
  EXPECT_GE(value(*corrupted, 0), nominal + 0x100000 - 0x10000)
      << "16 frames more, give or take one";
  EXPECT_LE(value(*corrupted, 0), nominal + 0x100000 + 0x10000);
}

}  // namespace
}  // namespace sim::usb::testing
