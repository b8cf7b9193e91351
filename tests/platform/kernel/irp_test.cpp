// IRP mechanics: completion routines bottom-up, STATUS_MORE_PROCESSING_REQUIRED, synchronous
// requests built by the I/O manager, cancellation, and the misuse the verifier stops.
#include <gmock/gmock.h>

#include <cstring>
#include <vector>

#include "io_test_stack.h"
#include "kernel/irp_verifier.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::io::test {
namespace {

using kernel::testing::KernelTest;

class IrpTest : public KernelTest {};

// Completion routines record their order and device, and answer as scripted.
struct Hop {
  int id;
  NTSTATUS answer;
  std::vector<std::pair<int, PDEVICE_OBJECT>>* log;
};

NTSTATUS RecordingCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  auto* hop = static_cast<Hop*>(context);
  hop->log->push_back({hop->id, device});
  if (hop->answer != STATUS_MORE_PROCESSING_REQUIRED && irp->PendingReturned) IoMarkIrpPending(irp);
  return hop->answer;
}

TEST_F(IrpTest, CompletionRoutinesRunBottomUpWithTheirOwnDevice) {
  ASSERT_TRUE(RunInThread([] {
    // A three-location IRP walked down by hand: originator -> upper -> lower, as a filter
    // and a function driver would pass it.
    PDRIVER_OBJECT driver = nullptr;
    ASSERT_EQ(IoHostCreateDriver(u"order", &driver), STATUS_SUCCESS);
    PDEVICE_OBJECT upper = nullptr, lower = nullptr;
    ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower),
              STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper),
              STATUS_SUCCESS);
    ASSERT_EQ(IoAttachDeviceToDeviceStack(upper, lower), lower);
    EXPECT_EQ(upper->StackSize, 2);

    std::vector<std::pair<int, PDEVICE_OBJECT>> log;
    Hop originator{1, STATUS_MORE_PROCESSING_REQUIRED, &log};
    Hop by_upper{2, STATUS_SUCCESS, &log};
    PIRP irp = IoAllocateIrp(upper->StackSize, FALSE);
    ASSERT_NE(irp, nullptr);
    IoSetCompletionRoutine(irp, RecordingCompletion, &originator, TRUE, TRUE, TRUE);
    // The upper driver's dispatch, inline: copy down, hook completion, pass on.
    IoSetNextIrpStackLocation(irp);
    IoGetCurrentIrpStackLocation(irp)->DeviceObject = upper;
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, RecordingCompletion, &by_upper, TRUE, TRUE, TRUE);
    IoSetNextIrpStackLocation(irp);
    IoGetCurrentIrpStackLocation(irp)->DeviceObject = lower;
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);

    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], std::make_pair(2, upper));  // the upper driver's routine first
    EXPECT_EQ(log[1], std::make_pair(1, PDEVICE_OBJECT{nullptr}));  // the originator has no device
    // Completion stopped at the originator: the IRP is its to reuse and free.
    IoReuseIrp(irp, STATUS_SUCCESS);
    EXPECT_EQ(irp->CurrentLocation, irp->StackCount + 1);
    IoFreeIrp(irp);
    IoDetachDevice(lower);
    IoDeleteDevice(upper);
    IoDeleteDevice(lower);
    IoHostUnloadDriver(driver);
  }));
}

TEST_F(IrpTest, InvokeFlagsChooseWhichOutcomesReachARoutine) {
  struct Case {
    NTSTATUS status;
    bool cancel;
    BOOLEAN onSuccess, onError, onCancel;
    bool invoked;
  };
  const Case cases[] = {
      {STATUS_SUCCESS, false, TRUE, FALSE, FALSE, true},
      {STATUS_SUCCESS, false, FALSE, TRUE, TRUE, false},
      {STATUS_BUFFER_OVERFLOW, false, FALSE, TRUE, FALSE, true},  // a warning is not success
      {STATUS_UNSUCCESSFUL, false, FALSE, TRUE, FALSE, true},
      {STATUS_UNSUCCESSFUL, false, TRUE, FALSE, FALSE, false},
      {STATUS_CANCELLED, true, FALSE, FALSE, TRUE, true},
      {STATUS_CANCELLED, true, TRUE, FALSE, FALSE, false},
  };
  ASSERT_TRUE(RunInThread([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << std::hex << static_cast<ULONG>(c.status));
      std::vector<std::pair<int, PDEVICE_OBJECT>> log;
      Hop guard{0, STATUS_MORE_PROCESSING_REQUIRED, &log};
      Hop scripted{1, STATUS_SUCCESS, &log};
      PIRP irp = IoAllocateIrp(2, FALSE);
      IoSetCompletionRoutine(irp, RecordingCompletion, &guard, TRUE, TRUE, TRUE);
      IoSetNextIrpStackLocation(irp);
      IoSetCompletionRoutine(irp, RecordingCompletion, &scripted, c.onSuccess, c.onError,
                             c.onCancel);
      IoSetNextIrpStackLocation(irp);
      irp->Cancel = c.cancel;
      irp->IoStatus.Status = c.status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      EXPECT_EQ(log.size(), c.invoked ? 2u : 1u);
      IoFreeIrp(irp);
    }
  }));
}

TEST_F(IrpTest, BuiltDeviceControlIsWaitedForAndCopiedBack) {
  TestStack stack;
  ASSERT_TRUE(RunInThread([&] { stack.Build(); }));
  PIRP parked = nullptr;
  stack.onDeviceControl = [&](PIRP irp) {
    PIO_STACK_LOCATION s = IoGetCurrentIrpStackLocation(irp);
    EXPECT_EQ(
        s->Parameters.DeviceIoControl.IoControlCode,
        static_cast<ULONG>(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)));
    auto* buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    EXPECT_EQ(buffer[0], 0xA5);  // the input, copied in
    buffer[0] = 0x11;
    buffer[1] = 0x22;
    irp->IoStatus.Information = 2;
    IoMarkIrpPending(irp);
    parked = irp;
    return STATUS_PENDING;
  };
  IO_STATUS_BLOCK iosb = {};
  UCHAR in[1] = {0xA5};
  UCHAR out[4] = {0, 0, 0, 0};
  bool waited = false;
  PKTHREAD requester = kernel().StartThread([&] {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(
        CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS), stack.fdo, in,
        sizeof in, out, sizeof out, FALSE, &event, &iosb);
    ASSERT_NE(irp, nullptr);
    ASSERT_EQ(IoCallDriver(stack.fdo, irp), STATUS_PENDING);
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    waited = true;
  });
  ASSERT_TRUE(kernel().RunUntil([&] { return parked != nullptr; }));
  EXPECT_FALSE(waited);
  ASSERT_TRUE(RunInThread([&] {
    parked->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(parked, IO_NO_INCREMENT);
  }));
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({requester}));
  EXPECT_TRUE(waited);
  EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
  EXPECT_EQ(iosb.Information, 2u);
  EXPECT_THAT(out, ::testing::ElementsAre(0x11, 0x22, 0, 0));
  ASSERT_TRUE(RunInThread([&] { stack.TearDown(); }));
}

TEST_F(IrpTest, CancellingAPendingIrpRunsItsCancelRoutineOnce) {
  ASSERT_TRUE(RunInThread([] {
    std::vector<std::pair<int, PDEVICE_OBJECT>> log;
    Hop originator{1, STATUS_MORE_PROCESSING_REQUIRED, &log};
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoSetCompletionRoutine(irp, RecordingCompletion, &originator, TRUE, TRUE, TRUE);
    IoSetNextIrpStackLocation(irp);
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CompleteCancelled);
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    EXPECT_EQ(log.size(), 1u);
    // The routine was taken away by the first cancel: a second finds nothing to call.
    EXPECT_FALSE(IoCancelIrp(irp));
    IoFreeIrp(irp);
  }));
}

TEST_F(IrpTest, CompletingTwiceStopsTheMachine) {
  ExpectBugCheck(MULTIPLE_IRP_COMPLETE_REQUESTS);
  RunInThread([] {
    PIRP irp = IoAllocateIrp(1, FALSE);
    std::vector<std::pair<int, PDEVICE_OBJECT>> log;
    Hop originator{1, STATUS_MORE_PROCESSING_REQUIRED, &log};
    IoSetCompletionRoutine(irp, RecordingCompletion, &originator, TRUE, TRUE, TRUE);
    IoSetNextIrpStackLocation(irp);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  });
}

TEST_F(IrpTest, SendingWithoutAStackLocationStopsTheMachine) {
  ExpectBugCheck(NO_MORE_IRP_STACK_LOCATIONS);
  RunInThread([] {
    PDRIVER_OBJECT driver = nullptr;
    IoHostCreateDriver(u"shallow", &driver);
    PDEVICE_OBJECT device = nullptr;
    IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoSetNextIrpStackLocation(irp);  // the only location is used up already
    IoCallDriver(device, irp);
  });
}

}  // namespace
}  // namespace tarnlink::io::test
