#include "asio_request_table.h"

#include "asioctl_trace_points.h"

namespace {

constexpr ULONG kU32 = sizeof(ULONG);
constexpr ULONG kU64 = sizeof(ULONGLONG);

// PREPARE reports its whole output buffer and writes its 16-byte result into the system buffer,
// which is never shorter than the 36 bytes of input it requires; so its output length needs no
// rule. GET_START_TIME answers a short output as a bad parameter rather than a short buffer.
constexpr AsioRequestRule kRules[] = {
    {IOCTL_ASIO_GET_RATE_RANGE, AsioHandleClosed, 0, sizeof(RateRange), STATUS_BUFFER_TOO_SMALL, 0},
    {IOCTL_ASIO_QUERY_FORMATS, AsioHandleClosed, 0, 0, STATUS_BUFFER_TOO_SMALL,
     sizeof(FormatQueryRecord)},
    {IOCTL_ASIO_GET_FIXED_RATE, AsioHandleClosed, 0, kU32, STATUS_BUFFER_TOO_SMALL, 0},
    {IOCTL_ASIO_SET_RATE, AsioHandleClosed, kU32, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_GET_DSD_NATIVE, AsioHandleClosed, 0, kU32, STATUS_BUFFER_TOO_SMALL, 0},
    {IOCTL_ASIO_GET_PRODUCT_STRING, AsioHandleClosed, 0, ASIO_PRODUCT_STRING_MIN_BYTES,
     STATUS_BUFFER_TOO_SMALL, 0},
    {IOCTL_ASIO_GET_BUS_SPEED, AsioHandleClosed, 0, kU32, STATUS_BUFFER_TOO_SMALL, 0},
    {IOCTL_ASIO_ACQUIRE, AsioHandleOpened, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_PREPARE, AsioHandleAcquired, sizeof(PrepareRequest), 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_START, AsioHandlePrepared, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_STOP, AsioHandleRunning, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_UNPREPARE, AsioHandlePrepared, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_RELEASE, AsioHandleAcquired, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_GET_CAPTURE_PERIOD_MS, AsioHandleClosed, 0, kU32, STATUS_BUFFER_TOO_SMALL, 0},
    {IOCTL_ASIO_NOP, AsioHandleClosed, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_GET_INTERRUPTED, AsioHandleClosed, 0, kU32, STATUS_BUFFER_TOO_SMALL, 0},
    {IOCTL_ASIO_ARM, AsioHandleRunning, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_GET_START_TIME, AsioHandleRunning, 0, kU64, STATUS_INVALID_PARAMETER, 0},
    {IOCTL_ASIO_SET_START_TIME, AsioHandleRunning, kU64, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_FAIL_NEXT_CAPTURE, AsioHandleClosed, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_FAIL_NEXT_PLAYBACK, AsioHandleClosed, 0, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_SET_LATENCY_OVERRIDE, AsioHandleClosed, kU32, 0, STATUS_SUCCESS, 0},
    {IOCTL_ASIO_SET_PREFILL_OVERRIDE, AsioHandleClosed, kU32, 0, STATUS_SUCCESS, 0},
};

}  // namespace

const AsioRequestRule* FindAsioRequestRule(ULONG code) {
  for (const AsioRequestRule& rule : kRules) {
    if (rule.code == code) return &rule;
  }
  return nullptr;
}

NTSTATUS CheckAsioRequest(ULONG code, ULONG state, ULONG inputLength, ULONG outputLength) {
  const AsioRequestRule* rule = FindAsioRequestRule(code);
  if (rule == nullptr) {
    TRACE_POINT(kTraceAsioUnknownRequest, code);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  if (rule->state != AsioHandleClosed && rule->state != state) {
    TRACE_POINT(kTraceAsioWrongState, code, state);
    return STATUS_UNSUCCESSFUL;
  }
  if (inputLength < rule->minInput) {
    TRACE_POINT(kTraceAsioInputShort, code, inputLength);
    return STATUS_INVALID_PARAMETER;
  }
  const ULONG records = rule->recordBytes == 0 ? 0 : inputLength / rule->recordBytes;
  if (outputLength < rule->minOutput ||
      (rule->recordBytes != 0 && outputLength / rule->recordBytes < records)) {
    TRACE_POINT(kTraceAsioOutputShort, code, outputLength);
    return rule->shortOutputStatus;
  }
  return STATUS_SUCCESS;
}
