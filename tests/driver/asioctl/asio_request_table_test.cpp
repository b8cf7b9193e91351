#include "asio_request_table.h"

#include <gtest/gtest.h>

namespace {

constexpr ULONG kAnyState[] = {AsioHandleOpened, AsioHandleAcquired, AsioHandlePrepared,
                               AsioHandleRunning};

TEST(AsioRequestTable, LengthsAreCheckedBeforeAHandlerSeesAByte) {
  struct Case {
    ULONG code, state, in, out;
    NTSTATUS status;
  };
  const Case cases[] = {
      {IOCTL_ASIO_QUERY_FORMATS, AsioHandleOpened, 286, 286, STATUS_SUCCESS},  // 13 records
      {IOCTL_ASIO_QUERY_FORMATS, AsioHandleOpened, 21, 0, STATUS_SUCCESS},     // no record
      {IOCTL_ASIO_QUERY_FORMATS, AsioHandleOpened, 287, 286, STATUS_SUCCESS},  // a stray byte
      {IOCTL_ASIO_QUERY_FORMATS, AsioHandleOpened, 286, 285, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_QUERY_FORMATS, AsioHandleOpened, 0xFFFFFFFF, 0xFFFFFFFF, STATUS_SUCCESS},
      {IOCTL_ASIO_GET_RATE_RANGE, AsioHandleOpened, 0, 8, STATUS_SUCCESS},
      {IOCTL_ASIO_GET_RATE_RANGE, AsioHandleOpened, 64, 7, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_GET_FIXED_RATE, AsioHandleRunning, 0, 3, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_GET_DSD_NATIVE, AsioHandleOpened, 0, 3, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_GET_BUS_SPEED, AsioHandleOpened, 0, 3, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_GET_CAPTURE_PERIOD_MS, AsioHandleOpened, 0, 3, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_GET_INTERRUPTED, AsioHandleOpened, 0, 3, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_GET_PRODUCT_STRING, AsioHandleOpened, 0, 6, STATUS_SUCCESS},
      {IOCTL_ASIO_GET_PRODUCT_STRING, AsioHandleOpened, 0, 5, STATUS_BUFFER_TOO_SMALL},
      {IOCTL_ASIO_SET_RATE, AsioHandleOpened, 3, 0, STATUS_INVALID_PARAMETER},
      {IOCTL_ASIO_SET_RATE, AsioHandleOpened, 4, 0, STATUS_SUCCESS},
      {IOCTL_ASIO_SET_LATENCY_OVERRIDE, AsioHandleOpened, 3, 0, STATUS_INVALID_PARAMETER},
      {IOCTL_ASIO_SET_PREFILL_OVERRIDE, AsioHandleOpened, 3, 0, STATUS_INVALID_PARAMETER},
      {IOCTL_ASIO_PREPARE, AsioHandleAcquired, 35, 16, STATUS_INVALID_PARAMETER},
      {IOCTL_ASIO_PREPARE, AsioHandleAcquired, 36, 0, STATUS_SUCCESS},
      {IOCTL_ASIO_GET_START_TIME, AsioHandleRunning, 0, 7, STATUS_INVALID_PARAMETER},
      {IOCTL_ASIO_GET_START_TIME, AsioHandleRunning, 0, 8, STATUS_SUCCESS},
      {IOCTL_ASIO_SET_START_TIME, AsioHandleRunning, 7, 0, STATUS_INVALID_PARAMETER},
      // The state is checked before the buffers.
      {IOCTL_ASIO_PREPARE, AsioHandleOpened, 0, 0, STATUS_UNSUCCESSFUL},
      {IOCTL_ASIO_GET_START_TIME, AsioHandlePrepared, 0, 0, STATUS_UNSUCCESSFUL},
      {0x222070, AsioHandleOpened, 0, 0, STATUS_INVALID_DEVICE_REQUEST},  // the gap in the codes
      {0x222084, AsioHandleOpened, 0, 0, STATUS_INVALID_DEVICE_REQUEST},
      {0x222003, AsioHandleOpened, 0, 8, STATUS_INVALID_DEVICE_REQUEST},  // another transfer method
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckAsioRequest(c.code, c.state, c.in, c.out), c.status)
        << std::hex << c.code << std::dec << " state " << c.state << " in " << c.in << " out "
        << c.out;
  }
}

TEST(AsioRequestTable, EachRequestRunsOnlyInItsState) {
  struct Case {
    ULONG code;
    ULONG state;  // 0: every state
  };
  const Case cases[] = {
      {IOCTL_ASIO_ACQUIRE, AsioHandleOpened},       {IOCTL_ASIO_PREPARE, AsioHandleAcquired},
      {IOCTL_ASIO_START, AsioHandlePrepared},       {IOCTL_ASIO_STOP, AsioHandleRunning},
      {IOCTL_ASIO_UNPREPARE, AsioHandlePrepared},   {IOCTL_ASIO_RELEASE, AsioHandleAcquired},
      {IOCTL_ASIO_ARM, AsioHandleRunning},          {IOCTL_ASIO_GET_START_TIME, AsioHandleRunning},
      {IOCTL_ASIO_SET_START_TIME, AsioHandleRunning}, {IOCTL_ASIO_NOP, 0},
      {IOCTL_ASIO_SET_RATE, 0},                     {IOCTL_ASIO_QUERY_FORMATS, 0},
      {IOCTL_ASIO_FAIL_NEXT_CAPTURE, 0},            {IOCTL_ASIO_FAIL_NEXT_PLAYBACK, 0},
  };
  for (const Case& c : cases) {
    for (ULONG state : kAnyState) {
      const NTSTATUS expected =
          c.state == 0 || c.state == state ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
      EXPECT_EQ(CheckAsioRequest(c.code, state, 0xFFFF, 0xFFFF), expected)
          << std::hex << c.code << std::dec << " in state " << state;
    }
  }
}

}  // namespace
