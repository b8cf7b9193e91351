// The user/kernel boundary: opening a device interface path, METHOD_BUFFERED device controls as
// user mode sees them, clean-up and close, handles per process, cancellation.
#include <gmock/gmock.h>

#include <cstring>
#include <vector>

#include "io_test_stack.h"
#include "kernel/file_object_host.h"
#include "kernel/io_file_api.h"
#include "kernel/pnp_device_interface.h"
#include "kernel/ps_process.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::io::test {
namespace {

using kernel::testing::KernelTest;

constexpr GUID kAudioClass = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr ULONG kBufferedCode =
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);

class IoFileTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_TRUE(RunInThread([&] {
      stack.Build();
      interfacePath = stack.EnableInterface(kAudioClass, u"Wave");
    }));
  }
  void TearDown() override {
    if (!kernel().Stopped()) RunInThread([&] { stack.TearDown(); });
    KernelTest::TearDown();
  }

  NTSTATUS Open(std::u16string_view suffix, HANDLE* handle,
                ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE, ULONG options = 0) {
    std::u16string path = interfacePath + std::u16string(suffix);
    UNICODE_STRING name = {static_cast<USHORT>(path.size() * 2),
                           static_cast<USHORT>(path.size() * 2), path.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK iosb = {};
    return NtCreateFile(handle, access, &attributes, &iosb, nullptr, 0, 0, FILE_OPEN, options,
                        nullptr, 0);
  }


  TestStack stack;
  std::u16string interfacePath;
};

TEST_F(IoFileTest, TheRestOfThePathReachesTheDriverAsWrittenAndCloseFollowsCleanUp) {
  for (std::u16string_view suffix : {u"\\asio", u"\\ASIO", u"\\AsIo", u""}) {
    stack.seen.clear();
    RunAsUser([&] {
      HANDLE handle = nullptr;
      ASSERT_EQ(Open(suffix, &handle, GENERIC_READ | GENERIC_WRITE, FILE_SYNCHRONOUS_IO_NONALERT),
                STATUS_SUCCESS);
      ASSERT_EQ(stack.seen.size(), 1u);
      PFILE_OBJECT file = stack.seen[0].file;
      EXPECT_EQ(IoHostFileInterfaceReference(file), u"Wave");
      EXPECT_EQ(file->DeviceObject, stack.pdo);
      // Another reference keeps the file: closing the handle sends clean-up only.
      ObReferenceObject(file);
      EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
      EXPECT_THAT(stack.Majors(), ::testing::ElementsAre(IRP_MJ_CREATE, IRP_MJ_CLEANUP));
      ObDereferenceObject(file);
    });
    EXPECT_THAT(stack.Majors(), ::testing::ElementsAre(IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE));
    for (const SeenRequest& r : stack.seen) EXPECT_EQ(r.fileName, suffix);
  }
}

TEST_F(IoFileTest, UnknownPathsAndDisabledInterfacesDoNotOpen) {
  RunAsUser([&] {
    HANDLE handle = nullptr;
    std::u16string saved = interfacePath;
    interfacePath = u"\\??\\USB#VID_0000&PID_0000#0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}";
    EXPECT_EQ(Open(u"", &handle), STATUS_OBJECT_NAME_NOT_FOUND);
    interfacePath = saved;
    UNICODE_STRING link = {static_cast<USHORT>(saved.size() * 2),
                           static_cast<USHORT>(saved.size() * 2), saved.data()};
    ASSERT_EQ(IoSetDeviceInterfaceState(&link, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(Open(u"\\asio", &handle), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_TRUE(stack.seen.empty());
  });
}

// METHOD_BUFFERED: the driver sees max(in, out) bytes holding the input; the caller gets back
// Information bytes on success and on warnings, nothing on errors.
TEST_F(IoFileTest, BufferedControlsCopyInAndBackAsWindowsDoes) {
  struct Case {
    NTSTATUS status;
    ULONG information;
    ULONG inLength, outLength;
    ULONG copied;
  };
  const Case cases[] = {
      {STATUS_SUCCESS, 4, 2, 8, 4},
      {STATUS_SUCCESS, 0, 8, 8, 0},
      {STATUS_BUFFER_OVERFLOW, 6, 0, 6, 6},
      {STATUS_BUFFER_TOO_SMALL, 6, 4, 6, 0},
      {STATUS_INVALID_PARAMETER, 2, 12, 4, 0},
  };
  ULONG seen_system_length = 0;
  std::vector<UCHAR> seen_input;
  const Case* current = nullptr;
  stack.onDeviceControl = [&](PIRP irp) {
    PIO_STACK_LOCATION s = IoGetCurrentIrpStackLocation(irp);
    ULONG in = s->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = s->Parameters.DeviceIoControl.OutputBufferLength;
    seen_system_length = std::max(in, out);
    auto* buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    seen_input.assign(buffer, buffer + in);
    std::memset(buffer, 0xC3, out);
    irp->IoStatus.Status = current->status;
    irp->IoStatus.Information = current->information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return current->status;
  };
  RunAsUser([&] {
    HANDLE handle = nullptr;
    ASSERT_EQ(Open(u"\\asio", &handle, GENERIC_READ | GENERIC_WRITE, FILE_SYNCHRONOUS_IO_NONALERT),
              STATUS_SUCCESS);
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << std::hex << static_cast<ULONG>(c.status));
      current = &c;
      std::vector<UCHAR> in(c.inLength);
      for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<UCHAR>(i + 1);
      std::vector<UCHAR> out(c.outLength, 0);
      IO_STATUS_BLOCK iosb = {};
      NTSTATUS status =
          NtDeviceIoControlFile(handle, nullptr, nullptr, nullptr, &iosb, kBufferedCode, in.data(),
                                c.inLength, out.data(), c.outLength);
      EXPECT_EQ(status, c.status);
      EXPECT_EQ(seen_system_length, std::max(c.inLength, c.outLength));
      EXPECT_EQ(seen_input, in);
      EXPECT_EQ(iosb.Information, c.information);
      for (ULONG i = 0; i < c.outLength; ++i) EXPECT_EQ(out[i], i < c.copied ? 0xC3 : 0) << i;
    }
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
  });
}

TEST_F(IoFileTest, DirectMethodsAreRefusedAndAccessIsChecked) {
  bool reached = false;
  stack.onDeviceControl = [&](PIRP irp) {
    reached = true;
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  };
  RunAsUser([&] {
    HANDLE handle = nullptr;
    ASSERT_EQ(Open(u"\\asio", &handle, GENERIC_READ), STATUS_SUCCESS);
    UCHAR buffer[8] = {};
    IO_STATUS_BLOCK iosb = {};
    EXPECT_EQ(NtDeviceIoControlFile(
                  handle, nullptr, nullptr, nullptr, &iosb,
                  CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_OUT_DIRECT, FILE_ANY_ACCESS), nullptr,
                  0, buffer, sizeof buffer),
              STATUS_NOT_SUPPORTED);
    EXPECT_EQ(NtDeviceIoControlFile(
                  handle, nullptr, nullptr, nullptr, &iosb,
                  CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_WRITE_ACCESS), nullptr,
                  0, buffer, sizeof buffer),
              STATUS_ACCESS_DENIED);
    EXPECT_FALSE(reached);
    EXPECT_EQ(NtDeviceIoControlFile(
                  handle, nullptr, nullptr, nullptr, &iosb,
                  CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_READ_ACCESS), nullptr,
                  0, buffer, sizeof buffer),
              STATUS_SUCCESS);
    EXPECT_TRUE(reached);
    ZwClose(handle);
  });
}

TEST_F(IoFileTest, HandlesBelongToTheirProcessAndTheirType) {
  HANDLE handle = nullptr;
  PEPROCESS first = nullptr;
  RunAsUser([&] { ASSERT_EQ(Open(u"\\asio", &handle), STATUS_SUCCESS); }, &first);
  RunAsUser([&] {
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *IoFileObjectType, UserMode, &object, nullptr),
              STATUS_INVALID_HANDLE);
  });
  ASSERT_TRUE(RunInThread([&] {
    KAPC_STATE apc;
    KeStackAttachProcess(first, &apc);
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *ExEventObjectType, UserMode,
                                        &object, nullptr),
              STATUS_OBJECT_TYPE_MISMATCH);
    ASSERT_EQ(ObReferenceObjectByHandle(handle, FILE_READ_DATA, *IoFileObjectType, UserMode,
                                        &object, nullptr),
              STATUS_SUCCESS);
    ObDereferenceObject(object);
    KeUnstackDetachProcess(&apc);
    // The process's end closes its handles: clean-up and close reach the driver.
    PsHostTerminateProcess(first);
    ObDereferenceObject(first);
  }));
  EXPECT_THAT(stack.Majors(), ::testing::ElementsAre(IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE));
}

TEST_F(IoFileTest, CancellingAHandlesIoCompletesItsPendingRequest) {
  stack.onDeviceControl = [&](PIRP irp) {
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CompleteCancelled);
    return STATUS_PENDING;
  };
  RunAsUser([&] {
    HANDLE handle = nullptr;
    ASSERT_EQ(Open(u"\\asio", &handle), STATUS_SUCCESS);  // overlapped: no synchronous flag
    HANDLE event = nullptr;
    PVOID event_object = nullptr;
    ASSERT_EQ(ObHostCreateObject(*ExEventObjectType, sizeof(KEVENT), 0, &event_object),
              STATUS_SUCCESS);
    KeInitializeEvent(static_cast<PKEVENT>(event_object), NotificationEvent, FALSE);
    ASSERT_EQ(ObHostInsertHandle(PsGetCurrentProcess(), event_object, EVENT_ALL_ACCESS, 0, &event),
              STATUS_SUCCESS);
    ObDereferenceObject(event_object);
    UCHAR out[4] = {};
    IO_STATUS_BLOCK iosb = {};
    ASSERT_EQ(NtDeviceIoControlFile(handle, event, nullptr, nullptr, &iosb, kBufferedCode, nullptr,
                                    0, out, sizeof out),
              STATUS_PENDING);
    EXPECT_EQ(KeReadStateEvent(static_cast<PKEVENT>(event_object)), 0);
    EXPECT_EQ(NtCancelIoFile(handle, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, STATUS_CANCELLED);
    EXPECT_NE(KeReadStateEvent(static_cast<PKEVENT>(event_object)), 0);
    ZwClose(event);
    ZwClose(handle);
  });
}

TEST_F(IoFileTest, AFileLeftOpenIsReportedAtUnload) {
  ExpectBugCheck(0);
  RunAsUser(
      [&] {
        HANDLE handle = nullptr;
        ASSERT_EQ(Open(u"\\asio", &handle), STATUS_SUCCESS);
      },
      nullptr);
  // The user process has ended and closed it; a kernel handle survives and is a leak.
  ASSERT_TRUE(RunInThread([&] {
    std::u16string path = interfacePath;
    UNICODE_STRING name = {static_cast<USHORT>(path.size() * 2),
                           static_cast<USHORT>(path.size() * 2), path.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE handle = nullptr;
    IO_STATUS_BLOCK iosb = {};
    ASSERT_EQ(ZwCreateFile(&handle, GENERIC_READ, &attributes, &iosb, nullptr, 0, 0, FILE_OPEN, 0,
                           nullptr, 0),
              STATUS_SUCCESS);
  }));
  EXPECT_FALSE(kernel().DeclareDriverUnloaded());
}

}  // namespace
}  // namespace tarnlink::io::test
