// CUSBAudioControl: feature unit requests, device sample rates, clock stability and the stream
// kind.
#include "audio_control.h"
#include "audio_trace_points.h"
#include "byte_order.h"
#include "driver_types.h"
#include "format_checks.h"
#include "usb_audio_class.h"

namespace {

// The device's own request that tells it the stream kind: vendor, to the streaming interface.
constexpr UCHAR kRequestTypeVendorInterface = 0x41;
constexpr UCHAR kStreamKindRequest = 0x00;

// The driver's feature request codes: 1.0 numbers its reads CUR 1, MIN 2, MAX 3, RES 4 (the
// class's GET codes without their GET bit); 2.0 has CUR 1 and RANGE 2.
constexpr UCHAR kCur = uac::request2::kCur;
constexpr UCHAR kRange = uac::request2::kRange;
constexpr UCHAR kMin = 2;
constexpr UCHAR kMax = 3;
constexpr UCHAR kRes = 4;

SHORT ReadSigned16(const UCHAR* p) {
  return static_cast<SHORT>(ReadLe16(p));
}

}  // namespace

NTSTATUS CUSBAudioControl::EntityRequest(ControlAccess access, UCHAR request, UCHAR selector,
                                         UCHAR channel, ULONG entityId, USHORT length, PVOID buffer,
                                         PULONG transferred) {
  const USHORT wValue = static_cast<USHORT>((selector << 8) | channel);
  const USHORT wIndex =
      static_cast<USHORT>(((entityId & 0xFF) << 8) | m_Model.AudioControlInterfaceNumber());
  NTSTATUS status =
      m_Function.ControlRequest(access == ControlAccess::Read ? uac::request_type::kInterfaceGet
                                                              : uac::request_type::kInterfaceSet,
                                request, wValue, wIndex, length, buffer, transferred);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceRequestFailed, request, wValue, wIndex, status);
  return status;
}

NTSTATUS CUSBAudioControl::FeatureRequest(CUSBAudioFeatureUnit* unit, ULONG channel, ULONG control,
                                          UCHAR request, ControlAccess access, USHORT length,
                                          PVOID buffer) {
  if (unit == nullptr) return STATUS_INVALID_PARAMETER;
  BOOLEAN allowed = FALSE;
  if (control == kFeatureControlMute) {
    allowed = request == kCur && length == 1;
  } else if (control == kFeatureControlVolume) {
    allowed = m_Model.IsUAC2()
                  ? (request == kCur && length == 2) || (request == kRange && length == 8)
                  : request >= kCur && request <= kRes && length == 2;
  }
  if (!allowed || channel >= unit->ChannelCount() ||
      !unit->HasChannelControl(channel, control, access)) {
    TRACE_POINT(kTraceFeatureRequestRefused, unit->GetID(), channel, control, request);
    return STATUS_NOT_SUPPORTED;
  }
  UCHAR code = request;
  if (!m_Model.IsUAC2())
    code = access == ControlAccess::Read ? (uac::request1::kGetFlag | request)
                                         : uac::request1::kSetCur;
  return EntityRequest(access, code, static_cast<UCHAR>(control + 1), static_cast<UCHAR>(channel),
                       unit->GetID(), length, buffer, nullptr);
}

NTSTATUS CUSBAudioControl::GetMute(CUSBAudioFeatureUnit* unit, ULONG channel, PUCHAR mute) {
  return FeatureRequest(unit, channel, kFeatureControlMute, kCur, ControlAccess::Read, 1, mute);
}

NTSTATUS CUSBAudioControl::SetMute(CUSBAudioFeatureUnit* unit, ULONG channel, UCHAR mute) {
  return FeatureRequest(unit, channel, kFeatureControlMute, kCur, ControlAccess::Write, 1, &mute);
}

NTSTATUS CUSBAudioControl::GetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* volume) {
  UCHAR data[2] = {};
  NTSTATUS status =
      FeatureRequest(unit, channel, kFeatureControlVolume, kCur, ControlAccess::Read, 2, data);
  if (NT_SUCCESS(status)) *volume = ReadSigned16(data);
  return status;
}

NTSTATUS CUSBAudioControl::SetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT volume) {
  UCHAR data[2] = {};
  WriteLittleEndian(data, static_cast<USHORT>(volume), sizeof(data));
  return FeatureRequest(unit, channel, kFeatureControlVolume, kCur, ControlAccess::Write, 2, data);
}

NTSTATUS CUSBAudioControl::GetVolumeRange(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* minimum,
                                          SHORT* maximum, PUSHORT resolution) {
  if (m_Model.IsUAC2()) {
    UCHAR data[8] = {};
    NTSTATUS status =
        FeatureRequest(unit, channel, kFeatureControlVolume, kRange, ControlAccess::Read, 8, data);
    if (!NT_SUCCESS(status)) return status;
    *minimum = ReadSigned16(data + 2);
    *maximum = ReadSigned16(data + 4);
    *resolution = ReadLe16(data + 6);
    return status;
  }
  const UCHAR requests[3] = {kMin, kMax, kRes};
  SHORT values[3] = {};
  for (ULONG i = 0; i < 3; ++i) {
    UCHAR data[2] = {};
    NTSTATUS status = FeatureRequest(unit, channel, kFeatureControlVolume, requests[i],
                                     ControlAccess::Read, 2, data);
    if (!NT_SUCCESS(status)) return status;
    values[i] = ReadSigned16(data);
  }
  *minimum = values[0];
  *maximum = values[1];
  *resolution = static_cast<USHORT>(values[2]);
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioControl::SetDeviceSampleRate(ULONG rate) {
  PAGED_CODE();
  BOOLEAN failed = FALSE;
  USBAudioStreamInterface* const interfaces[2] = {m_Model.PlaybackInterface(),
                                                  m_Model.CaptureInterface()};
  for (USBAudioStreamInterface* record : interfaces) {
    if (record == nullptr) continue;
    // Audio 1.0 rates are set per endpoint when a format is selected.
    if (!m_Model.IsUAC2()) {
      failed = TRUE;
      continue;
    }
    CUSBAudioClock* clock = m_Model.TerminalClock(record);
    if (clock == nullptr || !NT_SUCCESS(clock->SetSampleRate(rate))) failed = TRUE;
  }
  m_FixedSampleRate = rate;
  return failed ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

NTSTATUS CUSBAudioControl::IsRateSupported(ULONG rate) {
  PAGED_CODE();
  USBAudioStreamInterface* record = m_Model.CaptureInterface() != nullptr
                                        ? m_Model.CaptureInterface()
                                        : m_Model.PlaybackInterface();
  if (record == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  if (m_Model.IsUAC2()) {
    CUSBAudioClock* clock = m_Model.TerminalClock(record);
    return clock != nullptr ? clock->IsSampleRateSupported(rate) : STATUS_NOT_SUPPORTED;
  }
  if (record->AltSettingCount < 2) return STATUS_INVALID_PARAMETER;
  for (ULONG alt = 1; alt < record->AltSettingCount; ++alt) {
    const auto* format =
        reinterpret_cast<const FormatTypeI1*>(record->AltSettings[alt].FormatDescriptor);
    if (format != nullptr && format->bFormatType == uac::kFormatTypeI &&
        Uac1RateFits(format, rate)) {
      return STATUS_SUCCESS;
    }
  }
  return STATUS_INVALID_PARAMETER;
}

NTSTATUS CUSBAudioControl::GetRateRange(ULONG direction, PULONG minimum, PULONG maximum) {
  PAGED_CODE();
  USBAudioStreamInterface* record = m_Model.StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  const ULONG lower = *minimum;
  const ULONG upper = *maximum;
  if (m_Model.IsUAC2()) {
    CUSBAudioClock* clock = m_Model.TerminalClock(record);
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
    if (format->bFormatType != uac::kFormatTypeI) {
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

BOOLEAN CUSBAudioControl::IsClockStable(ULONG direction) {
  PAGED_CODE();
  if (!m_Model.IsUAC2()) return TRUE;
  CUSBAudioClock* clock = m_Model.TerminalClock(m_Model.StreamInterface(direction));
  return clock != nullptr && clock->IsValid();
}

NTSTATUS CUSBAudioControl::SendStreamKindTo(USBAudioStreamInterface* record, USHORT value) {
  NTSTATUS status = m_Function.ControlRequest(kRequestTypeVendorInterface, kStreamKindRequest,
                                              value, record->InterfaceNumber, 0, nullptr);
  if (NT_SUCCESS(status)) {
    record->StreamKind = value;
  } else {
    TRACE_POINT(kTraceRequestFailed, kStreamKindRequest, value, record->InterfaceNumber, status);
  }
  return status;
}

NTSTATUS CUSBAudioControl::SendStreamKind(USHORT value) {
  PAGED_CODE();
  for (USBAudioStreamInterface* s = m_Model.FirstStreamInterface(); s != nullptr; s = s->Next) {
    NTSTATUS status = SendStreamKindTo(s, value);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioControl::ReplayStreamKind() {
  PAGED_CODE();
  for (USBAudioStreamInterface* s = m_Model.FirstStreamInterface(); s != nullptr; s = s->Next) {
    NTSTATUS status = SendStreamKindTo(s, s->StreamKind);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

USHORT CUSBAudioControl::GetStreamKind() const {
  const USBAudioStreamInterface* first = m_Model.FirstStreamInterface();
  return first != nullptr ? first->StreamKind : Value(StreamKind::Pcm);
}

NTSTATUS CUSBAudioControl::SetEndpointSampleRate(UCHAR endpointAddress, ULONG rate) {
  UCHAR data[3] = {};
  WriteLittleEndian(data, rate, sizeof(data));
  return m_Function.ControlRequest(uac::request_type::kEndpointSet, uac::request1::kSetCur,
                                   uac::endpoint_control::kSamplingFrequency << 8, endpointAddress,
                                   3, data);
}

NTSTATUS CUSBAudioControl::GetEndpointSampleRate(UCHAR endpointAddress, PULONG rate) {
  UCHAR data[3] = {};
  NTSTATUS status = m_Function.ControlRequest(
      uac::request_type::kEndpointGet, uac::request1::kGetCur,
      uac::endpoint_control::kSamplingFrequency << 8, endpointAddress, 3, data);
  if (NT_SUCCESS(status)) *rate = ReadLe24(data);
  return status;
}
