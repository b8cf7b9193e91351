#include "asio_format_query.h"

#include "asioctl_trace_points.h"
#include "driver_types.h"

namespace {

NTSTATUS QueryDirection(CUSBAudioCL& model, ULONG direction, const FormatQueryRecord& record,
                        ULONG* channels, ULONG* bits) {
  *channels = 0;
  *bits = 0;
  if (model.StreamInterface(direction) == nullptr) return STATUS_SUCCESS;
  return model.GetMaxFormat(direction, record.formatTag, record.sampleRate, channels, bits);
}

}  // namespace

NTSTATUS QueryAsioFormat(CUSBAudioCL& model, FormatQueryRecord* record) {
  ULONG answers[4] = {};
  NTSTATUS status = QueryDirection(model, kDirectionPlayback, *record, &answers[0], &answers[1]);
  if (NT_SUCCESS(status))
    status = QueryDirection(model, kDirectionCapture, *record, &answers[2], &answers[3]);
  if (status == STATUS_NO_MATCH) {
    answers[0] = answers[1] = answers[2] = answers[3] = 0;
    status = STATUS_SUCCESS;
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioFormatQueryFailed, record->formatTag, record->sampleRate, status);
    return status;
  }
  record->playbackChannels = answers[0];
  record->playbackBits = answers[1];
  record->captureChannels = answers[2];
  record->captureBits = answers[3];
  return STATUS_SUCCESS;
}
