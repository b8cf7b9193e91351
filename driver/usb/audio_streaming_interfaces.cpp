// CUSBAudioDescriptorModel: the audio streaming interfaces, their alternate settings and endpoints.
#include "audio_descriptor_model.h"
#include "audio_descriptor_rules.h"
#include "audio_trace_points.h"
#include "driver_types.h"
#include "usb_audio_class.h"
#include "usb_support.h"

namespace {

// Data endpoints (plain or implicit feedback data) have the feedback bit clear.
constexpr UCHAR kUsageDataBit = uac::endpoint::kUsageFeedback;

UCHAR Usage(const USB_ENDPOINT_DESCRIPTOR* e) {
  return e->bmAttributes & uac::endpoint::kUsageMask;
}

BOOLEAN IsIsochronous(const USB_ENDPOINT_DESCRIPTOR* e) {
  return (e->bmAttributes & USB_ENDPOINT_TYPE_MASK) == USB_ENDPOINT_TYPE_ISOCHRONOUS;
}

VOID TraceEndpoint(const USB_ENDPOINT_DESCRIPTOR* e) {
  TRACE_POINT(kTraceEndpointExamined, e->bEndpointAddress, e->bmAttributes & USB_ENDPOINT_TYPE_MASK,
              (e->bmAttributes & uac::endpoint::kSyncTypeMask) >> 2, Usage(e) >> 4, e->bInterval);
}

}  // namespace

NTSTATUS CUSBAudioDescriptorModel::EnumerateStreamingInterfaces() {
  USBAudioStreamInterface* last = nullptr;
  // Streaming interfaces follow the control interface with consecutive numbers; the first
  // number without one ends the function as this driver models it.
  for (ULONG number = AudioControlInterfaceNumber() + 1u; number <= 0xFF; ++number) {
    if (FindAudioInterface(m_Function.ConfigurationDescriptor(), static_cast<LONG>(number), 0,
                           uac::kSubclassAudioStreaming) == nullptr) {
      break;
    }
    auto* record =
        static_cast<USBAudioStreamInterface*>(AllocateDriverPool(sizeof(USBAudioStreamInterface)));
    if (record == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    record->InterfaceNumber = static_cast<UCHAR>(number);
    KeInitializeSpinLock(&record->FeedbackLock);
    NTSTATUS status = ParseStreamingInterface(record);
    if (!NT_SUCCESS(status)) {
      TRACE_POINT(kTraceStreamingInterfaceFailed, number, status);
      FreeDriverPool(record->AltSettings);
      FreeDriverPool(record);
      return status;
    }
    if (last != nullptr) {
      last->Next = record;
    } else {
      m_StreamInterfaces = record;
    }
    last = record;
    ++m_StreamInterfaceCount;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioDescriptorModel::ParseStreamingInterface(USBAudioStreamInterface* record) {
  const LONG number = record->InterfaceNumber;
  PUSB_INTERFACE_DESCRIPTOR first = FindAudioInterface(m_Function.ConfigurationDescriptor(), number,
                                                       1, uac::kSubclassAudioStreaming);
  if (first == nullptr) return STATUS_NOT_SUPPORTED;
  const UCHAR* firstEnd = EndOfInterface(first);
  const auto* endpoint = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(
      NextDescriptor(first, firstEnd, USB_ENDPOINT_DESCRIPTOR_TYPE));
  if (first->bNumEndpoints == 0 || endpoint == nullptr ||
      endpoint->bLength < sizeof(USB_ENDPOINT_DESCRIPTOR)) {
    return STATUS_NOT_SUPPORTED;
  }
  record->Direction = USB_ENDPOINT_DIRECTION_IN(endpoint->bEndpointAddress)
                          ? static_cast<UCHAR>(Value(Direction::Capture))
                          : static_cast<UCHAR>(Value(Direction::Playback));

  ULONG count = 2;
  while (count <= 0xFF &&
         FindAudioInterface(m_Function.ConfigurationDescriptor(), number, static_cast<LONG>(count),
                            uac::kSubclassAudioStreaming) != nullptr) {
    ++count;
  }
  record->AltSettings =
      static_cast<USBAudioAltSetting*>(AllocateDriverPool(sizeof(USBAudioAltSetting) * count));
  if (record->AltSettings == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  record->AltSettingCount = count;

  for (ULONG alt = 0; alt < count; ++alt) {
    USBAudioAltSetting* setting = &record->AltSettings[alt];
    setting->InterfaceDescriptor =
        FindAudioInterface(m_Function.ConfigurationDescriptor(), number, static_cast<LONG>(alt),
                           uac::kSubclassAudioStreaming);
    if (setting->InterfaceDescriptor == nullptr) {
      FreeDriverPool(record->AltSettings);
      record->AltSettings = nullptr;
      record->AltSettingCount = 0;
      return STATUS_NOT_SUPPORTED;
    }
    if (setting->InterfaceDescriptor->bNumEndpoints == 0) continue;
    const UCHAR* end = EndOfInterface(setting->InterfaceDescriptor);
    ClassifyEndpoints(setting, end);
    FindStreamingDescriptors(setting, end);
  }
  return STATUS_SUCCESS;
}

BOOLEAN CUSBAudioDescriptorModel::IsServiceable(const USB_ENDPOINT_DESCRIPTOR* endpoint) const {
  if (!IsIsochronous(endpoint)) return TRUE;
  return endpoint->bInterval < (m_Function.IsHighSpeed() ? 5 : 16);
}

VOID CUSBAudioDescriptorModel::ClassifyEndpoints(USBAudioAltSetting* setting, const UCHAR* end) {
  if (m_Uac2) {
    ClassifyUac2Endpoints(setting, end);
  } else {
    ClassifyUac1Endpoints(setting, end);
  }
}

// Endpoints of one alternate setting in order: at most bNumEndpoints, none past its end, and
// none too short to be one (those are passed over).
const USB_ENDPOINT_DESCRIPTOR* CUSBAudioDescriptorModel::NextEndpoint(
    const USBAudioAltSetting* setting, const UCHAR* end, EndpointCursor* cursor) const {
  while (cursor->seen < setting->InterfaceDescriptor->bNumEndpoints) {
    const VOID* from =
        cursor->at != nullptr ? static_cast<const VOID*>(cursor->at) : setting->InterfaceDescriptor;
    cursor->at = NextDescriptor(from, end, USB_ENDPOINT_DESCRIPTOR_TYPE);
    if (cursor->at == nullptr) return nullptr;
    ++cursor->seen;
    if (cursor->at[0] >= sizeof(USB_ENDPOINT_DESCRIPTOR)) {
      const auto* endpoint = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(cursor->at);
      TraceEndpoint(endpoint);
      return endpoint;
    }
  }
  return nullptr;
}

VOID CUSBAudioDescriptorModel::NoteUnusableFeedback(const USB_ENDPOINT_DESCRIPTOR* endpoint) {
  if (Usage(endpoint) != uac::endpoint::kUsageFeedback || IsServiceable(endpoint)) return;
  TRACE_POINT(kTraceUnusableFeedback, endpoint->bEndpointAddress, endpoint->bInterval);
  m_UnusableFeedbackSeen = TRUE;
}

VOID CUSBAudioDescriptorModel::ClassifyUac2Endpoints(USBAudioAltSetting* setting,
                                                     const UCHAR* end) {
  EndpointCursor cursor;
  while (const USB_ENDPOINT_DESCRIPTOR* e = NextEndpoint(setting, end, &cursor)) {
    NoteUnusableFeedback(e);
    if (!IsServiceable(e)) continue;
    if (setting->DataEndpoint == nullptr && (e->bmAttributes & kUsageDataBit) == 0) {
      setting->DataEndpoint = const_cast<PUSB_ENDPOINT_DESCRIPTOR>(e);
    }
    if (setting->FeedbackEndpoint == nullptr && Usage(e) == uac::endpoint::kUsageFeedback) {
      setting->FeedbackEndpoint = const_cast<PUSB_ENDPOINT_DESCRIPTOR>(e);
    }
  }
}

VOID CUSBAudioDescriptorModel::ClassifyUac1Endpoints(USBAudioAltSetting* setting,
                                                     const UCHAR* end) {
  EndpointCursor cursor;
  while (const USB_ENDPOINT_DESCRIPTOR* e = NextEndpoint(setting, end, &cursor)) {
    if ((e->bmAttributes & kUsageDataBit) == 0) {
      setting->DataEndpoint = const_cast<PUSB_ENDPOINT_DESCRIPTOR>(e);
      break;
    }
  }
  const auto* data = reinterpret_cast<const AudioEndpoint1*>(setting->DataEndpoint);
  cursor = {};
  // Audio 1.0 names its synchronisation endpoint from the data endpoint's bSynchAddress.
  while (const USB_ENDPOINT_DESCRIPTOR* e = NextEndpoint(setting, end, &cursor)) {
    NoteUnusableFeedback(e);
    if (!IsServiceable(e) || (e->bmAttributes & uac::endpoint::kSyncTypeMask) != 0) continue;
    if (data == nullptr || setting->FeedbackEndpoint != nullptr || e == setting->DataEndpoint) {
      continue;
    }
    if (data->bLength < sizeof(AudioEndpoint1) || data->bSynchAddress != e->bEndpointAddress) {
      TRACE_POINT(kTraceSynchAddressMismatch, data->bLength,
                  data->bLength >= sizeof(AudioEndpoint1) ? data->bSynchAddress : 0,
                  e->bEndpointAddress);
      continue;
    }
    setting->FeedbackEndpoint = const_cast<PUSB_ENDPOINT_DESCRIPTOR>(e);
  }
}

const UCHAR* CUSBAudioDescriptorModel::FindClassDescriptor(const VOID* from, const UCHAR* end,
                                                           UCHAR type, UCHAR subtype) const {
  for (const UCHAR* d = NextDescriptor(from, end, type); d != nullptr;
       d = NextDescriptor(d, end, type)) {
    if (d[0] >= 3 && d[2] == subtype) return d;
  }
  return nullptr;
}

VOID CUSBAudioDescriptorModel::FindStreamingDescriptors(USBAudioAltSetting* setting,
                                                        const UCHAR* end) {
  const PUSB_INTERFACE_DESCRIPTOR iface = setting->InterfaceDescriptor;
  const UCHAR* general = FindClassDescriptor(iface, end, uac::kCsInterface, uac::as::kGeneral);
  if (general != nullptr &&
      IsAudioDescriptorValid(AudioDescriptorPlace::Streaming, general, m_Uac2)) {
    setting->GeneralDescriptor = general;
  }
  const UCHAR* format = FindClassDescriptor(iface, end, uac::kCsInterface, uac::as::kFormatType);
  if (format != nullptr &&
      IsAudioDescriptorValid(AudioDescriptorPlace::Streaming, format, m_Uac2)) {
    setting->FormatDescriptor = format;
  }

  if (setting->DataEndpoint != nullptr) {
    const UCHAR* epGeneral =
        FindClassDescriptor(setting->DataEndpoint, end, uac::kCsEndpoint, uac::ep::kGeneral);
    if (epGeneral != nullptr &&
        IsAudioDescriptorValid(AudioDescriptorPlace::Endpoint, epGeneral, m_Uac2)) {
      setting->EndpointGeneralDescriptor = epGeneral;
    }
  }
}

BOOLEAN CUSBAudioDescriptorModel::IsImplicitFeedbackMode() const {
  if (m_ImplicitFeedbackPairing) return TRUE;
  const USBAudioStreamInterface* capture = m_CaptureInterface;
  if (capture == nullptr || capture->AltSettingCount < 2) return FALSE;
  const USB_ENDPOINT_DESCRIPTOR* data = capture->AltSettings[1].DataEndpoint;
  return data != nullptr && (data->bmAttributes & uac::endpoint::kUsageMask) ==
                                uac::endpoint::kUsageImplicitFeedbackData;
}
