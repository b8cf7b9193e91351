// Device files as the ASIO driver's client uses them: CreateFileW on an interface path with a
// suffix, buffered requests with and without OVERLAPPED, the byte count and last error of a
// failed request, cancellation, power state, and clean-up and close at CloseHandle.
#include <gmock/gmock.h>

#include <cstring>
#include <string>

#include "io_test_stack.h"
#include "kernel/pnp_device_interface.h"
#include "user_process_test.h"
#include "win32/win32_host.h"

namespace tarnlink::win32::test {
namespace {

using io::test::TestStack;

constexpr GUID kAudioClass = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr DWORD kQuery = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);

class DeviceFileTest : public UserProcessTest {
 protected:
  void SetUp() override {
    UserProcessTest::SetUp();
    ASSERT_TRUE(RunInThread([&] {
      stack.Build();
      // \??\X is \\?\X to Win32.
      path = u"\\\\?\\" + stack.EnableInterface(kAudioClass, u"{DEAB6FBE}").substr(4);
    }));
  }
  void TearDown() override {
    if (!kernel().Stopped()) RunInThread([&] { stack.TearDown(); });
    UserProcessTest::TearDown();
  }

  HANDLE Open(DWORD flags) {
    return CreateFileW((path + u"\\asio").c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  }

  // The driver answers each request with Status, writing Information bytes of 0xA5.
  void Answer(NTSTATUS status, ULONG information) {
    stack.onDeviceControl = [status, information](PIRP irp) {
      std::memset(irp->AssociatedIrp.SystemBuffer, 0xA5, information);
      irp->IoStatus.Status = status;
      irp->IoStatus.Information = information;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    };
  }


  TestStack stack;
  std::u16string path;
};

TEST_F(DeviceFileTest, TheSuffixReachesTheDriverAndCloseHandleSendsCleanUpAndClose) {
  RunAsUser([&] {
    HANDLE device = Open(0);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ASSERT_EQ(stack.seen.size(), 1u);
    EXPECT_EQ(stack.seen[0].fileName, u"\\asio");
    EXPECT_TRUE(CloseHandle(device));
    EXPECT_THAT(stack.Majors(), ::testing::ElementsAre(IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE));
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    const std::u16string missing =
        u"\\\\?\\USB#VID_0000&PID_0000#0#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\asio";
    EXPECT_EQ(CreateFileW(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  });
}

// As on Windows, the interface's link without its reference string reaches the same device,
// and what follows it is the file name the driver sees; the link goes with the last interface.
TEST_F(DeviceFileTest, ThePathWithoutTheReferenceStringReachesTheDevice) {
  const std::u16string base = path.substr(0, path.rfind(u'\\'));
  RunAsUser([&] {
    HANDLE device = CreateFileW((base + u"\\asio").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_EQ(stack.seen.size(), 1u);
    EXPECT_EQ(stack.seen[0].fileName, u"\\asio");
    CloseHandle(device);
  });
  RunInThread([&] {
    std::u16string link = u"\\??\\" + path.substr(4);
    UNICODE_STRING name = {static_cast<USHORT>(link.size() * 2),
                           static_cast<USHORT>(link.size() * 2), link.data()};
    EXPECT_EQ(IoSetDeviceInterfaceState(&name, FALSE), STATUS_SUCCESS);
  });
  RunAsUser([&] {
    EXPECT_EQ(CreateFileW((base + u"\\asio").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  });
}

// What a caller sees of a request the driver completes at once, synchronous and overlapped:
// success gives the bytes; a warning gives FALSE with the data and its byte count; an error
// gives FALSE with the mapped error and no bytes.
TEST_F(DeviceFileTest, CompletedRequestsReportBytesAndErrorsAsWindowsDoes) {
  struct Case {
    NTSTATUS status;
    BOOL result;
    DWORD error;
    DWORD bytes;
  };
  const Case cases[] = {
      {STATUS_SUCCESS, TRUE, ERROR_SUCCESS, 4},
      {STATUS_BUFFER_OVERFLOW, FALSE, ERROR_MORE_DATA, 6},
      {STATUS_DEVICE_BUSY, FALSE, ERROR_BUSY, 6},
      {STATUS_INVALID_DEVICE_REQUEST, FALSE, ERROR_INVALID_FUNCTION, 0},
      {STATUS_BUFFER_TOO_SMALL, FALSE, ERROR_INSUFFICIENT_BUFFER, 0},
  };
  RunAsUser([&] {
    HANDLE sync = Open(0);
    HANDLE overlapped = Open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(sync, INVALID_HANDLE_VALUE);
    ASSERT_NE(overlapped, INVALID_HANDLE_VALUE);
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << std::hex << static_cast<ULONG>(c.status));
      // Warnings are NT_WARNING statuses: the data is copied back, as for success.
      const bool copied = c.status == STATUS_SUCCESS || c.status == STATUS_BUFFER_OVERFLOW ||
                          c.status == STATUS_DEVICE_BUSY;
      Answer(c.status, c.bytes == 0 ? 2 : c.bytes);
      UCHAR reply[8] = {};
      DWORD bytes = 0xDEAD;
      SetLastError(ERROR_SUCCESS);
      EXPECT_EQ(DeviceIoControl(sync, kQuery, nullptr, 0, reply, 8, &bytes, nullptr), c.result);
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_EQ(bytes, copied ? c.bytes : 0xDEADu);
      EXPECT_EQ(reply[0], copied ? 0xA5 : 0);

      OVERLAPPED request = {};
      request.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      bytes = 0xDEAD;
      SetLastError(ERROR_SUCCESS);
      const BOOL sent = DeviceIoControl(overlapped, kQuery, nullptr, 0, reply, 8, &bytes, &request);
      EXPECT_EQ(sent, c.result);
      EXPECT_EQ(GetLastError(), c.error);
      if (c.status == STATUS_SUCCESS) {
        // Completed at once: the event is set and the result is ready without waiting.
        EXPECT_EQ(WaitForSingleObject(request.hEvent, 0), WAIT_OBJECT_0);
        DWORD transferred = 0;
        EXPECT_TRUE(GetOverlappedResult(overlapped, &request, &transferred, TRUE));
        EXPECT_EQ(transferred, c.bytes);
        EXPECT_EQ(bytes, c.bytes);
      } else if (copied) {
        DWORD transferred = 0;
        EXPECT_FALSE(GetOverlappedResult(overlapped, &request, &transferred, FALSE));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(transferred, c.bytes);
      }
      CloseHandle(request.hEvent);
    }
    CloseHandle(sync);
    CloseHandle(overlapped);
  });
}

TEST_F(DeviceFileTest, APendingRequestCompletesWhenCancelled) {
  stack.onDeviceControl = [](PIRP irp) {
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, io::test::CompleteCancelled);
    return STATUS_PENDING;
  };
  RunAsUser([&] {
    HANDLE device = Open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    OVERLAPPED request = {};
    request.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    DWORD bytes = 0;
    EXPECT_FALSE(DeviceIoControl(device, kQuery, nullptr, 0, nullptr, 0, &bytes, &request));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(request.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(GetOverlappedResult(device, &request, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_TRUE(CancelIo(device));
    EXPECT_FALSE(GetOverlappedResult(device, &request, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(CancelIoEx(device, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    CloseHandle(request.hEvent);
    CloseHandle(device);
  });
}

TEST_F(DeviceFileTest, PowerStateFollowsTheDevice) {
  RunAsUser([&] {
    HANDLE device = Open(0);
    BOOL on = FALSE;
    EXPECT_TRUE(GetDevicePowerState(device, &on));
    EXPECT_TRUE(on);
    SetDevicePower(stack.pdo, false);
    EXPECT_TRUE(GetDevicePowerState(device, &on));
    EXPECT_FALSE(on);
    SetDevicePower(stack.pdo, true);
    EXPECT_TRUE(GetDevicePowerState(device, &on));
    EXPECT_TRUE(on);
    CloseHandle(device);
    EXPECT_FALSE(GetDevicePowerState(device, &on));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  });
}

}  // namespace
}  // namespace tarnlink::win32::test
