// CUSBAudioCL: feature unit requests, device sample rates, clock stability and the stream kind.
#include "audio_trace_points.h"
#include "format_checks.h"
#include "usb_audio_model.h"

namespace {

constexpr UCHAR kRequestTypeRead = 0xA1;
constexpr UCHAR kRequestTypeWrite = 0x21;
constexpr UCHAR kRequestTypeEndpointRead = 0xA2;
constexpr UCHAR kRequestTypeEndpointWrite = 0x22;
constexpr UCHAR kRequestTypeVendorInterface = 0x41;
constexpr UCHAR kStreamKindRequest = 0x00;
constexpr UCHAR kUac1ReadFlag = 0x80;
constexpr UCHAR kUac1SetCur = 0x01;
constexpr UCHAR kUac1GetCur = 0x81;
constexpr UCHAR kSelectorSamplingFrequency = 0x01;

// The driver's feature request codes: 1.0 numbers its reads CUR 1, MIN 2, MAX 3, RES 4; 2.0 has
// CUR 1 and RANGE 2.
constexpr UCHAR kCur = 1;
constexpr UCHAR kRange = 2;
constexpr UCHAR kMin = 2;
constexpr UCHAR kMax = 3;
constexpr UCHAR kRes = 4;

SHORT ReadLe16(const UCHAR* p) {
  return static_cast<SHORT>(p[0] | (p[1] << 8));
}

}  // namespace

NTSTATUS CUSBAudioCL::EntityRequest(ControlAccess access, UCHAR request, UCHAR selector,
                                    UCHAR channel, ULONG entityId, USHORT length, PVOID buffer,
                                    PULONG transferred) {
  const USHORT wValue = static_cast<USHORT>((selector << 8) | channel);
  const USHORT wIndex =
      static_cast<USHORT>(((entityId & 0xFF) << 8) | AudioControlInterfaceNumber());
  NTSTATUS status =
      ControlRequest(access == ControlAccess::Read ? kRequestTypeRead : kRequestTypeWrite, request,
                     wValue, wIndex, length, buffer, transferred);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceRequestFailed, request, wValue, wIndex, status);
  return status;
}

NTSTATUS CUSBAudioCL::FeatureRequest(CUSBAudioFeatureUnit* unit, ULONG channel, ULONG control,
                                     UCHAR request, ControlAccess access, USHORT length,
                                     PVOID buffer) {
  if (unit == nullptr) return STATUS_INVALID_PARAMETER;
  BOOLEAN allowed = FALSE;
  if (control == kFeatureControlMute) {
    allowed = request == kCur && length == 1;
  } else if (control == kFeatureControlVolume) {
    allowed = m_Uac2 ? (request == kCur && length == 2) || (request == kRange && length == 8)
                     : request >= kCur && request <= kRes && length == 2;
  }
  if (!allowed || channel >= unit->ChannelCount() ||
      !unit->HasChannelControl(channel, control, access)) {
    TRACE_POINT(kTraceFeatureRequestRefused, unit->GetID(), channel, control, request);
    return STATUS_NOT_SUPPORTED;
  }
  UCHAR code = request;
  if (!m_Uac2) code = access == ControlAccess::Read ? (kUac1ReadFlag | request) : kUac1SetCur;
  return EntityRequest(access, code, static_cast<UCHAR>(control + 1), static_cast<UCHAR>(channel),
                       unit->GetID(), length, buffer);
}

NTSTATUS CUSBAudioCL::GetMute(CUSBAudioFeatureUnit* unit, ULONG channel, PUCHAR mute) {
  return FeatureRequest(unit, channel, kFeatureControlMute, kCur, ControlAccess::Read, 1, mute);
}

NTSTATUS CUSBAudioCL::SetMute(CUSBAudioFeatureUnit* unit, ULONG channel, UCHAR mute) {
  return FeatureRequest(unit, channel, kFeatureControlMute, kCur, ControlAccess::Write, 1, &mute);
}

NTSTATUS CUSBAudioCL::GetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* volume) {
  UCHAR data[2] = {};
  NTSTATUS status =
      FeatureRequest(unit, channel, kFeatureControlVolume, kCur, ControlAccess::Read, 2, data);
  if (NT_SUCCESS(status)) *volume = ReadLe16(data);
  return status;
}

NTSTATUS CUSBAudioCL::SetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT volume) {
  UCHAR data[2] = {static_cast<UCHAR>(volume), static_cast<UCHAR>(volume >> 8)};
  return FeatureRequest(unit, channel, kFeatureControlVolume, kCur, ControlAccess::Write, 2, data);
}

NTSTATUS CUSBAudioCL::GetVolumeRange(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* minimum,
                                     SHORT* maximum, PUSHORT resolution) {
  if (m_Uac2) {
    UCHAR data[8] = {};
    NTSTATUS status =
        FeatureRequest(unit, channel, kFeatureControlVolume, kRange, ControlAccess::Read, 8, data);
    if (!NT_SUCCESS(status)) return status;
    *minimum = ReadLe16(data + 2);
    *maximum = ReadLe16(data + 4);
    *resolution = static_cast<USHORT>(ReadLe16(data + 6));
    return status;
  }
  const UCHAR requests[3] = {kMin, kMax, kRes};
  SHORT values[3] = {};
  for (ULONG i = 0; i < 3; ++i) {
    UCHAR data[2] = {};
    NTSTATUS status = FeatureRequest(unit, channel, kFeatureControlVolume, requests[i],
                                     ControlAccess::Read, 2, data);
    if (!NT_SUCCESS(status)) return status;
    values[i] = ReadLe16(data);
  }
  *minimum = values[0];
  *maximum = values[1];
  *resolution = static_cast<USHORT>(values[2]);
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::SetDeviceSampleRate(ULONG rate) {
  BOOLEAN failed = FALSE;
  USBAudioStreamInterface* const interfaces[2] = {m_PlaybackInterface, m_CaptureInterface};
  for (USBAudioStreamInterface* record : interfaces) {
    if (record == nullptr) continue;
    // Audio 1.0 rates are set per endpoint when a format is selected.
    if (!m_Uac2) {
      failed = TRUE;
      continue;
    }
    CUSBAudioClock* clock = TerminalClock(record);
    if (clock == nullptr || !NT_SUCCESS(clock->SetSampleRate(rate))) failed = TRUE;
  }
  m_FixedSampleRate = rate;
  return failed ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::IsRateSupported(ULONG rate) {
  USBAudioStreamInterface* record =
      m_CaptureInterface != nullptr ? m_CaptureInterface : m_PlaybackInterface;
  if (record == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  if (m_Uac2) {
    CUSBAudioClock* clock = TerminalClock(record);
    return clock != nullptr ? clock->IsSampleRateSupported(rate) : STATUS_NOT_SUPPORTED;
  }
  if (record->AltSettingCount < 2) return STATUS_INVALID_PARAMETER;
  for (ULONG alt = 1; alt < record->AltSettingCount; ++alt) {
    const auto* format =
        reinterpret_cast<const FormatTypeI1*>(record->AltSettings[alt].FormatDescriptor);
    if (format != nullptr && format->bFormatType == kFormatTypeI && Uac1RateFits(format, rate)) {
      return STATUS_SUCCESS;
    }
  }
  return STATUS_INVALID_PARAMETER;
}

NTSTATUS CUSBAudioCL::GetRateRange(ULONG direction, PULONG minimum, PULONG maximum) {
  USBAudioStreamInterface* record = StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  const ULONG lower = *minimum;
  const ULONG upper = *maximum;
  if (m_Uac2) {
    CUSBAudioClock* clock = TerminalClock(record);
    if (clock == nullptr) return STATUS_NOT_SUPPORTED;
    return clock->GetSampleRateRange(minimum, maximum, lower, upper);
  }
  *minimum = upper;
  *maximum = lower;
  NTSTATUS status = STATUS_SUCCESS;
  auto widen = [&](ULONG low, ULONG high) {
    if (low >= lower && low <= upper && low < *minimum) *minimum = low;
    if (high >= lower && high <= upper && high > *maximum) *maximum = high;
  };
  for (ULONG alt = 1; alt < record->AltSettingCount; ++alt) {
    const auto* format =
        reinterpret_cast<const FormatTypeI1*>(record->AltSettings[alt].FormatDescriptor);
    if (format == nullptr) continue;
    if (format->bFormatType != kFormatTypeI) {
      status = STATUS_INVALID_PARAMETER;
      continue;
    }
    if (format->bSamFreqType == 0) {
      widen(FormatTypeI1Rate(format, 0), FormatTypeI1Rate(format, 1));
      continue;
    }
    for (ULONG k = 0; k < format->bSamFreqType; ++k) {
      widen(FormatTypeI1Rate(format, k), FormatTypeI1Rate(format, k));
    }
  }
  return status;
}

BOOLEAN CUSBAudioCL::IsClockStable(ULONG direction) {
  if (!m_Uac2) return TRUE;
  CUSBAudioClock* clock = TerminalClock(StreamInterface(direction));
  return clock != nullptr && clock->IsValid();
}

NTSTATUS CUSBAudioCL::SendStreamKindTo(USBAudioStreamInterface* record, USHORT value) {
  NTSTATUS status = ControlRequest(kRequestTypeVendorInterface, kStreamKindRequest, value,
                                   record->InterfaceNumber, 0, nullptr);
  if (NT_SUCCESS(status)) {
    record->StreamKind = value;
  } else {
    TRACE_POINT(kTraceRequestFailed, kStreamKindRequest, value, record->InterfaceNumber, status);
  }
  return status;
}

NTSTATUS CUSBAudioCL::SendStreamKind(USHORT value) {
  for (USBAudioStreamInterface* s = m_StreamInterfaces; s != nullptr; s = s->Next) {
    NTSTATUS status = SendStreamKindTo(s, value);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::ReplayStreamKind() {
  for (USBAudioStreamInterface* s = m_StreamInterfaces; s != nullptr; s = s->Next) {
    NTSTATUS status = SendStreamKindTo(s, s->StreamKind);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

USHORT CUSBAudioCL::GetStreamKind() const {
  return m_StreamInterfaces != nullptr ? m_StreamInterfaces->StreamKind : 0;
}

NTSTATUS CUSBAudioCL::SetEndpointSampleRate(UCHAR endpointAddress, ULONG rate) {
  UCHAR data[3] = {static_cast<UCHAR>(rate), static_cast<UCHAR>(rate >> 8),
                   static_cast<UCHAR>(rate >> 16)};
  return ControlRequest(kRequestTypeEndpointWrite, kUac1SetCur, kSelectorSamplingFrequency << 8,
                        endpointAddress, 3, data);
}

NTSTATUS CUSBAudioCL::GetEndpointSampleRate(UCHAR endpointAddress, PULONG rate) {
  UCHAR data[3] = {};
  NTSTATUS status = ControlRequest(kRequestTypeEndpointRead, kUac1GetCur,
                                   kSelectorSamplingFrequency << 8, endpointAddress, 3, data);
  if (NT_SUCCESS(status)) *rate = ReadLe24(data);
  return status;
}
