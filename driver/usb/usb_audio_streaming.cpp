// CUSBAudioCL: the audio streaming interfaces, their alternate settings and endpoints.
#include "audio_trace_points.h"
#include "usb_audio_model.h"
#include "usb_support.h"

namespace {

// Data endpoints (plain or implicit feedback data) have the feedback bit clear.
constexpr UCHAR kUsageDataBit = kEndpointUsageFeedback;
constexpr UCHAR kSyncMask = 0x0C;
constexpr UCHAR kUac1EndpointLength = 9;

UCHAR Usage(const USB_ENDPOINT_DESCRIPTOR* e) {
  return e->bmAttributes & kEndpointUsageMask;
}

BOOLEAN IsIsochronous(const USB_ENDPOINT_DESCRIPTOR* e) {
  return (e->bmAttributes & USB_ENDPOINT_TYPE_MASK) == USB_ENDPOINT_TYPE_ISOCHRONOUS;
}

VOID TraceEndpoint(const USB_ENDPOINT_DESCRIPTOR* e) {
  TRACE_POINT(kTraceEndpointExamined, e->bEndpointAddress, e->bmAttributes & USB_ENDPOINT_TYPE_MASK,
              (e->bmAttributes & kSyncMask) >> 2, Usage(e) >> 4, e->bInterval);
}

}  // namespace

NTSTATUS CUSBAudioCL::EnumerateStreamingInterfaces() {
  USBAudioStreamInterface* last = nullptr;
  // Streaming interfaces follow the control interface with consecutive numbers; the first
  // number without one ends the function as this driver models it.
  for (ULONG number = AudioControlInterfaceNumber() + 1u; number <= 0xFF; ++number) {
    if (FindAudioInterface(m_ConfigurationDescriptor, static_cast<LONG>(number), 0,
                           kAudioSubclassStreaming) == nullptr) {
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

NTSTATUS CUSBAudioCL::ParseStreamingInterface(USBAudioStreamInterface* record) {
  const LONG number = record->InterfaceNumber;
  PUSB_INTERFACE_DESCRIPTOR first =
      FindAudioInterface(m_ConfigurationDescriptor, number, 1, kAudioSubclassStreaming);
  if (first == nullptr) return STATUS_NOT_SUPPORTED;
  const UCHAR* firstEnd = EndOfInterface(first);
  const auto* endpoint = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(
      NextDescriptor(first, firstEnd, USB_ENDPOINT_DESCRIPTOR_TYPE));
  if (first->bNumEndpoints == 0 || endpoint == nullptr ||
      endpoint->bLength < sizeof(USB_ENDPOINT_DESCRIPTOR)) {
    return STATUS_NOT_SUPPORTED;
  }
  record->Direction = USB_ENDPOINT_DIRECTION_IN(endpoint->bEndpointAddress)
                          ? static_cast<UCHAR>(kDirectionCaptureModel)
                          : static_cast<UCHAR>(kDirectionPlaybackModel);

  ULONG count = 2;
  while (count <= 0xFF &&
         FindAudioInterface(m_ConfigurationDescriptor, number, static_cast<LONG>(count),
                            kAudioSubclassStreaming) != nullptr) {
    ++count;
  }
  record->AltSettings =
      static_cast<USBAudioAltSetting*>(AllocateDriverPool(sizeof(USBAudioAltSetting) * count));
  if (record->AltSettings == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  record->AltSettingCount = count;

  for (ULONG alt = 0; alt < count; ++alt) {
    USBAudioAltSetting* setting = &record->AltSettings[alt];
    setting->InterfaceDescriptor = FindAudioInterface(
        m_ConfigurationDescriptor, number, static_cast<LONG>(alt), kAudioSubclassStreaming);
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

BOOLEAN CUSBAudioCL::IsServiceable(const USB_ENDPOINT_DESCRIPTOR* endpoint) const {
  if (!IsIsochronous(endpoint)) return TRUE;
  return endpoint->bInterval < (IsHighSpeed() ? 5 : 16);
}

VOID CUSBAudioCL::ClassifyEndpoints(USBAudioAltSetting* setting, const UCHAR* end) {
  if (m_Uac2) {
    ClassifyUac2Endpoints(setting, end);
  } else {
    ClassifyUac1Endpoints(setting, end);
  }
}

// Endpoints of one alternate setting in order: at most bNumEndpoints, none past its end, and
// none too short to be one (those are passed over).
const USB_ENDPOINT_DESCRIPTOR* CUSBAudioCL::NextEndpoint(const USBAudioAltSetting* setting,
                                                         const UCHAR* end,
                                                         EndpointCursor* cursor) const {
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

VOID CUSBAudioCL::NoteUnusableFeedback(const USB_ENDPOINT_DESCRIPTOR* endpoint) {
  if (Usage(endpoint) != kEndpointUsageFeedback || IsServiceable(endpoint)) return;
  TRACE_POINT(kTraceUnusableFeedback, endpoint->bEndpointAddress, endpoint->bInterval);
  m_UnusableFeedbackSeen = TRUE;
}

VOID CUSBAudioCL::ClassifyUac2Endpoints(USBAudioAltSetting* setting, const UCHAR* end) {
  EndpointCursor cursor;
  while (const USB_ENDPOINT_DESCRIPTOR* e = NextEndpoint(setting, end, &cursor)) {
    NoteUnusableFeedback(e);
    if (!IsServiceable(e)) continue;
    if (setting->DataEndpoint == nullptr && (e->bmAttributes & kUsageDataBit) == 0) {
      setting->DataEndpoint = const_cast<PUSB_ENDPOINT_DESCRIPTOR>(e);
    }
    if (setting->FeedbackEndpoint == nullptr && Usage(e) == kEndpointUsageFeedback) {
      setting->FeedbackEndpoint = const_cast<PUSB_ENDPOINT_DESCRIPTOR>(e);
    }
  }
}

VOID CUSBAudioCL::ClassifyUac1Endpoints(USBAudioAltSetting* setting, const UCHAR* end) {
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
    if (!IsServiceable(e) || (e->bmAttributes & kSyncMask) != 0) continue;
    if (data == nullptr || setting->FeedbackEndpoint != nullptr || e == setting->DataEndpoint) {
      continue;
    }
    if (data->bLength < kUac1EndpointLength || data->bSynchAddress != e->bEndpointAddress) {
      TRACE_POINT(kTraceSynchAddressMismatch, data->bLength,
                  data->bLength >= kUac1EndpointLength ? data->bSynchAddress : 0,
                  e->bEndpointAddress);
      continue;
    }
    setting->FeedbackEndpoint = const_cast<PUSB_ENDPOINT_DESCRIPTOR>(e);
  }
}

const UCHAR* CUSBAudioCL::FindClassDescriptor(const VOID* from, const UCHAR* end, UCHAR type,
                                              UCHAR subtype) const {
  for (const UCHAR* d = NextDescriptor(from, end, type); d != nullptr;
       d = NextDescriptor(d, end, type)) {
    if (d[0] >= 3 && d[2] == subtype) return d;
  }
  return nullptr;
}

BOOLEAN CUSBAudioCL::IsFormatComplete(const UCHAR* format) const {
  if (format[0] < 4) return FALSE;
  if (format[3] != kFormatTypeI) return TRUE;  // only type I fields are ever read
  if (m_Uac2) return AudioDescriptorAs<FormatTypeI2>(format) != nullptr;
  const auto* f = AudioDescriptorAs<FormatTypeI1>(format);
  return f != nullptr && f->bLength >= FormatTypeI1Length(f->bSamFreqType);
}

VOID CUSBAudioCL::FindStreamingDescriptors(USBAudioAltSetting* setting, const UCHAR* end) {
  const PUSB_INTERFACE_DESCRIPTOR iface = setting->InterfaceDescriptor;
  const UCHAR* general = FindClassDescriptor(iface, end, kCsInterfaceType, kAsGeneral);
  const ULONG generalLength = m_Uac2 ? sizeof(StreamGeneral2) : sizeof(StreamGeneral1);
  if (general != nullptr && general[0] >= generalLength) setting->GeneralDescriptor = general;

  const UCHAR* format = FindClassDescriptor(iface, end, kCsInterfaceType, kAsFormatType);
  if (format != nullptr && IsFormatComplete(format)) setting->FormatDescriptor = format;

  if (setting->DataEndpoint != nullptr) {
    const UCHAR* epGeneral =
        FindClassDescriptor(setting->DataEndpoint, end, kCsEndpointType, kEpGeneral);
    if (epGeneral != nullptr && AudioDescriptorAs<EndpointGeneral>(epGeneral) != nullptr) {
      setting->EndpointGeneralDescriptor = epGeneral;
    }
  }
}
