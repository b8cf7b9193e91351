#include "asio_device_requests.h"

#include "asio_format_query.h"
#include "asioctl_trace_points.h"
#include "transfer_settings.h"

namespace {

PUCHAR Bytes(AsioRequest* request) {
  return static_cast<PUCHAR>(request->Buffer);
}

ULONG InputWord(AsioRequest* request) {
  ULONG value = 0;
  RtlCopyMemory(&value, request->Buffer, sizeof value);
  return value;
}

NTSTATUS ReplyWord(AsioRequest* request, ULONG value) {
  RtlCopyMemory(request->Buffer, &value, sizeof value);
  request->Information = sizeof value;
  return STATUS_SUCCESS;
}

NTSTATUS GetRateRange(IAsioDevice& device, AsioRequest* request) {
  RateRange range = {};
  const NTSTATUS status = device.AsioRateRange(&range.lowestRate, &range.highestRate);
  if (!NT_SUCCESS(status)) return status;
  RtlCopyMemory(request->Buffer, &range, sizeof range);
  request->Information = sizeof range;
  return STATUS_SUCCESS;
}

NTSTATUS QueryFormats(IAsioDevice& device, AsioRequest* request) {
  const ULONG records = request->InputLength / sizeof(FormatQueryRecord);
  for (ULONG i = 0; i < records; ++i) {
    PUCHAR at = Bytes(request) + i * sizeof(FormatQueryRecord);
    FormatQueryRecord record;
    RtlCopyMemory(&record, at, sizeof record);
    const NTSTATUS status = QueryAsioFormat(device.Model(), &record);
    if (!NT_SUCCESS(status)) return status;
    RtlCopyMemory(at, &record, sizeof record);
  }
  request->Information = records * sizeof(FormatQueryRecord);
  return STATUS_SUCCESS;
}

NTSTATUS SetRate(IAsioDevice& device, AsioRequest* request) {
  const ULONG rate = InputWord(request);
  // The stream stops first; the handle stays Running until its own stop.
  device.AsioStream().Stop();
  NTSTATUS status;
  if (device.Engine().FixedRate() != 0) {
    status = device.ChangeFixedRate(rate);
  } else {
    status = NT_SUCCESS(device.Model().IsRateSupported(rate)) ? STATUS_SUCCESS
                                                              : STATUS_INVALID_PARAMETER;
    if (NT_SUCCESS(status)) device.Engine().SetAsioRate(rate);
  }
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceAsioSetRateRefused, rate, status);
  return status;
}

NTSTATUS GetProductString(IAsioDevice& device, AsioRequest* request) {
  const USBStringDescriptor& product = device.ProductString();
  const ULONG units = product.CharacterCount();
  const ULONG room = (request->OutputLength - ASIO_PRODUCT_STRING_MIN_BYTES) / sizeof(WCHAR);
  const ULONG copied = units < room ? units : room;
  RtlCopyMemory(request->Buffer, &units, sizeof units);
  PUCHAR text = Bytes(request) + offsetof(ProductStringReply, text);
  for (ULONG i = 0; i <= copied; ++i) {
    const WCHAR unit = i < copied ? product.CharacterAt(i) : 0;
    RtlCopyMemory(text + i * sizeof(WCHAR), &unit, sizeof unit);
  }
  request->Information = copied * sizeof(WCHAR) + ASIO_PRODUCT_STRING_MIN_BYTES;
  return copied < units ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // namespace

NTSTATUS ServeDeviceRequest(IAsioDevice& device, AsioRequest* request) {
  CStreamEngine& engine = device.Engine();
  switch (request->Code) {
    case IOCTL_ASIO_GET_RATE_RANGE:
      return GetRateRange(device, request);
    case IOCTL_ASIO_QUERY_FORMATS:
      return QueryFormats(device, request);
    case IOCTL_ASIO_GET_FIXED_RATE:
      return ReplyWord(request, engine.FixedRate());
    case IOCTL_ASIO_SET_RATE:
      return SetRate(device, request);
    case IOCTL_ASIO_GET_DSD_NATIVE:
      return ReplyWord(request, device.DsdNative() != 0 ? 1 : 0);
    case IOCTL_ASIO_GET_PRODUCT_STRING:
      return GetProductString(device, request);
    case IOCTL_ASIO_GET_BUS_SPEED:
      return ReplyWord(request, device.Model().IsHighSpeed() ? 2 : 1);
    case IOCTL_ASIO_GET_CAPTURE_PERIOD_MS:
      return ReplyWord(request, g_TransferSettings.CaptureTransferMs);
    case IOCTL_ASIO_NOP:
      return STATUS_SUCCESS;
    case IOCTL_ASIO_GET_INTERRUPTED:
      return ReplyWord(request, device.AsioStream().Interrupted());
    case IOCTL_ASIO_FAIL_NEXT_CAPTURE:
      engine.FailNextCapture();
      return STATUS_SUCCESS;
    case IOCTL_ASIO_FAIL_NEXT_PLAYBACK:
      engine.FailNextPlayback();
      return STATUS_SUCCESS;
    case IOCTL_ASIO_SET_LATENCY_OVERRIDE: {
      const ULONG frames = InputWord(request);
      engine.PlaybackEngineOf(StreamUser::Asio).SetLatencyOverride(frames);
      engine.PlaybackEngineOf(StreamUser::Os).SetLatencyOverride(frames);
      return STATUS_SUCCESS;
    }
    case IOCTL_ASIO_SET_PREFILL_OVERRIDE:
      device.AsioStream().SetPrefillOverride(InputWord(request));
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}
