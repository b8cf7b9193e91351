// Objects, handles and work items.
#include <gmock/gmock.h>

#include <vector>

#include "kernel/ob_host.h"
#include "kernel/ps_process.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

using ObjectsTest = KernelTest;

void QuickThread(PVOID) {}

TEST_F(ObjectsTest, HandlesResolveWithTypeAndAccessChecks) {
  CheckLeaksAtTearDown();
  HANDLE handle;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  ASSERT_EQ(PsCreateSystemThread(&handle, SYNCHRONIZE, &attributes, nullptr, nullptr, QuickThread,
                                 nullptr),
            STATUS_SUCCESS);
  PVOID object = reinterpret_cast<PVOID>(1);
  EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *ExEventObjectType, KernelMode, &object, nullptr),
            STATUS_OBJECT_TYPE_MISMATCH);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, UserMode, &object, nullptr),
            STATUS_INVALID_HANDLE)
      << "user mode cannot use a kernel handle";
  EXPECT_EQ(ObReferenceObjectByHandle(reinterpret_cast<HANDLE>(0x1234), 0, nullptr, KernelMode,
                                      &object, nullptr),
            STATUS_INVALID_HANDLE);
  OBJECT_HANDLE_INFORMATION info{};
  ASSERT_EQ(
      ObReferenceObjectByHandle(handle, SYNCHRONIZE, *PsThreadType, KernelMode, &object, &info),
      STATUS_SUCCESS);
  EXPECT_EQ(info.GrantedAccess, static_cast<ACCESS_MASK>(SYNCHRONIZE));
  EXPECT_EQ(ObHostKernelHandleCount(), 1u);
  EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
  EXPECT_EQ(ObHostKernelHandleCount(), 0u);
  KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(object);
}

TEST_F(ObjectsTest, HandlesOfAProcessAreItsOwnAndCheckAccessFromUserMode) {
  PEPROCESS process;
  ASSERT_EQ(PsHostCreateProcess("cpl.exe", &process), STATUS_SUCCESS);
  PVOID body;
  ASSERT_EQ(ObHostCreateObject(*ExEventObjectType, sizeof(KEVENT), 0, &body), STATUS_SUCCESS);
  KeInitializeEvent(static_cast<PKEVENT>(body), NotificationEvent, FALSE);
  HANDLE handle;
  ASSERT_EQ(ObHostInsertHandle(process, body, SYNCHRONIZE, 0, &handle), STATUS_SUCCESS);
  ObDereferenceObject(body);  // the handle keeps it alive
  PVOID object;
  EXPECT_EQ(ObReferenceObjectByHandle(handle, SYNCHRONIZE, *ExEventObjectType, UserMode, &object,
                                      nullptr),
            STATUS_INVALID_HANDLE)
      << "not a handle of the System process";
  KAPC_STATE apc;
  KeStackAttachProcess(process, &apc);
  EXPECT_EQ(PsGetCurrentProcess(), process);
  EXPECT_EQ(ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *ExEventObjectType, UserMode,
                                      &object, nullptr),
            STATUS_ACCESS_DENIED);
  ASSERT_EQ(ObReferenceObjectByHandle(handle, SYNCHRONIZE, *ExEventObjectType, UserMode, &object,
                                      nullptr),
            STATUS_SUCCESS);
  KeUnstackDetachProcess(&apc);
  EXPECT_EQ(PsGetCurrentProcess(), PsInitialSystemProcess);
  PsHostTerminateProcess(process);
  EXPECT_EQ(ObHostObjectHeader(object)->HandleCount, 0);
  EXPECT_EQ(ObDereferenceObject(object), 0) << "the last reference deletes the event";
  EXPECT_FALSE(ObHostIsObject(object));
  ObDereferenceObject(process);
}

struct WorkLog {
  std::vector<int> order;
  KIRQL irql = HIGH_LEVEL;
  PKTHREAD thread = nullptr;
  KEVENT release;
  PIO_WORKITEM items[2];
};

TEST_F(ObjectsTest, WorkItemsRunAtPassiveLevelAndABlockedOneDoesNotHoldUpTheNext) {
  CheckLeaksAtTearDown();
  WorkLog log;
  KeInitializeEvent(&log.release, NotificationEvent, FALSE);
  log.items[0] = IoAllocateWorkItem(nullptr);
  log.items[1] = IoAllocateWorkItem(nullptr);
  ASSERT_TRUE(log.items[0] && log.items[1]);
  IoQueueWorkItem(
      log.items[0],
      [](PDEVICE_OBJECT, PVOID context) {
        auto* l = static_cast<WorkLog*>(context);
        KeWaitForSingleObject(&l->release, Executive, KernelMode, FALSE, nullptr);
        l->order.push_back(1);
        IoFreeWorkItem(l->items[0]);
      },
      DelayedWorkQueue, &log);
  IoQueueWorkItem(
      log.items[1],
      [](PDEVICE_OBJECT, PVOID context) {
        auto* l = static_cast<WorkLog*>(context);
        l->irql = KeGetCurrentIrql();
        l->thread = KeGetCurrentThread();
        l->order.push_back(2);
        KeSetEvent(&l->release, IO_NO_INCREMENT, FALSE);
        IoFreeWorkItem(l->items[1]);
      },
      DelayedWorkQueue, &log);
  ASSERT_TRUE(kernel().RunUntil([&] { return log.order.size() == 2; }));
  EXPECT_THAT(log.order, ::testing::ElementsAre(2, 1));
  EXPECT_EQ(log.irql, PASSIVE_LEVEL);
  EXPECT_NE(log.thread, KeGetCurrentThread());
}

TEST_F(ObjectsTest, WorkItemQueuedTwiceIsCaught) {
  ExpectBugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION);
  EXPECT_FALSE(RunInThread([] {
    PIO_WORKITEM item = IoAllocateWorkItem(nullptr);
    auto routine = [](PDEVICE_OBJECT, PVOID) {};
    IoQueueWorkItem(item, routine, DelayedWorkQueue, nullptr);
    IoQueueWorkItem(item, routine, DelayedWorkQueue, nullptr);
  }));
  EXPECT_THAT(kernel().Stop()->reason, ::testing::HasSubstr("queued twice"));
}

}  // namespace
}  // namespace tarnlink::kernel::testing
