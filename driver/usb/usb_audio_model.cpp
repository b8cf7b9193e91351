// CUSBAudioCL: start, the audio control interface and its entities, the choice of playback and
// capture interfaces, and the configuration.
#include "usb_audio_model.h"

#include "audio_trace_points.h"
#include "usb_support.h"

CUSBAudioCL::CUSBAudioCL() = default;

CUSBAudioCL::~CUSBAudioCL() {
  FreeStreamInterfaces();
  FreeEntities();
}

void* CUSBAudioCL::operator new(SIZE_T bytes) noexcept {
  return AllocateDriverPool(bytes);
}

void CUSBAudioCL::operator delete(void* memory) noexcept {
  FreeDriverPool(memory);
}

VOID CUSBAudioCL::FreeStreamInterfaces() {
  while (USBAudioStreamInterface* record = m_StreamInterfaces) {
    m_StreamInterfaces = record->Next;
    FreeDriverPool(record->AltSettings);
    FreeDriverPool(record);
  }
  m_StreamInterfaceCount = 0;
  m_PlaybackInterface = nullptr;
  m_CaptureInterface = nullptr;
}

VOID CUSBAudioCL::FreeEntities() {
  while (CUSBAudioEntity* entity = m_Entities) {
    m_Entities = entity->Next();
    delete entity;
  }
}

NTSTATUS CUSBAudioCL::Initialize(PDEVICE_OBJECT physicalDevice, PDEVICE_OBJECT functionDevice,
                                 ULONG irpCount) {
  NTSTATUS status = StartFunction(physicalDevice, functionDevice, irpCount);
  if (!NT_SUCCESS(status)) return status;
  return BuildModel();
}

const UCHAR* CUSBAudioCL::ConfigBegin() const {
  return reinterpret_cast<const UCHAR*>(m_ConfigurationDescriptor);
}

const UCHAR* CUSBAudioCL::ConfigEnd() const {
  return ConfigBegin() + m_ConfigurationDescriptor->wTotalLength;
}

const UCHAR* CUSBAudioCL::NextDescriptor(const VOID* from, const UCHAR* end, UCHAR type) const {
  const auto* current = static_cast<const UCHAR*>(from);
  PUSB_COMMON_DESCRIPTOR found =
      USBD_ParseDescriptors(m_ConfigurationDescriptor, m_ConfigurationDescriptor->wTotalLength,
                            const_cast<UCHAR*>(current + current[0]), type);
  const auto* bytes = reinterpret_cast<const UCHAR*>(found);
  return bytes != nullptr && bytes < end ? bytes : nullptr;
}

const UCHAR* CUSBAudioCL::EndOfInterface(const VOID* from) const {
  const UCHAR* next = NextDescriptor(from, ConfigEnd(), USB_INTERFACE_DESCRIPTOR_TYPE);
  return next != nullptr ? next : ConfigEnd();
}

PUSB_INTERFACE_DESCRIPTOR CUSBAudioCL::FindAudioInterface(const VOID* start, LONG number,
                                                          LONG setting, UCHAR subclass) const {
  return USBD_ParseConfigurationDescriptorEx(m_ConfigurationDescriptor, const_cast<VOID*>(start),
                                             number, setting, m_Quirks.audioClass, subclass, -1);
}

NTSTATUS CUSBAudioCL::BuildModel() {
  FreeStreamInterfaces();
  FreeEntities();
  m_AudioControlInterface = nullptr;
  m_AudioControlHeader = nullptr;
  m_Quirks = LookupAudioQuirks(m_DeviceDescriptor.idVendor, m_DeviceDescriptor.idProduct);
  m_WidePacketWindow = m_Quirks.widePacketWindow;
  if (m_ConfigurationDescriptor == nullptr ||
      m_ConfigurationDescriptor->wTotalLength < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
    return STATUS_NOT_SUPPORTED;
  }

  m_AudioControlInterface =
      FindAudioInterface(m_ConfigurationDescriptor, -1, 0, kAudioSubclassControl);
  if (m_AudioControlInterface == nullptr) {
    TRACE_POINT(kTraceAudioControlMissing, m_Quirks.audioClass);
    return STATUS_NOT_SUPPORTED;
  }

  // The HEADER must be the very next descriptor, whole, and long enough for its version.
  const UCHAR* header =
      reinterpret_cast<const UCHAR*>(m_AudioControlInterface) + m_AudioControlInterface->bLength;
  const SIZE_T room = static_cast<SIZE_T>(ConfigEnd() - header);
  if (room < 5 || header[0] < 5 || header[0] > room || header[1] != kCsInterfaceType ||
      header[2] != kAcHeader) {
    TRACE_POINT(kTraceAudioHeaderInvalid, room >= 3 ? header[0] : 0, room >= 3 ? header[1] : 0,
                room >= 3 ? header[2] : 0);
    return STATUS_NOT_SUPPORTED;
  }
  m_Uac2 = (header[3] | (header[4] << 8)) == kAudioClassVersion2;
  ULONG totalLength = 0;
  if (m_Uac2) {
    const auto* h = AudioDescriptorAs<AudioControlHeader2>(header);
    if (h != nullptr) totalLength = h->wTotalLength;
  } else {
    const auto* h = AudioDescriptorAs<AudioControlHeader1>(header);
    if (h != nullptr) totalLength = h->wTotalLength;
  }
  if (totalLength == 0) {
    TRACE_POINT(kTraceAudioHeaderInvalid, header[0], header[1], header[2]);
    return STATUS_NOT_SUPPORTED;
  }
  const UCHAR* interfaceEnd = EndOfInterface(m_AudioControlInterface);
  if (totalLength > static_cast<ULONG>(interfaceEnd - header)) {
    TRACE_POINT(kTraceAudioBlockTooLong, totalLength, interfaceEnd - header);
    return STATUS_NOT_SUPPORTED;
  }
  m_AudioControlHeader = header;

  WalkEntities(header + totalLength);
  NTSTATUS status = LinkEntities();
  if (!NT_SUCCESS(status)) return status;

  status = EnumerateStreamingInterfaces();
  if (!NT_SUCCESS(status)) return status;
  status = LinkTerminals();
  if (!NT_SUCCESS(status)) return status;

  ChoosePlaybackAndCapture();
  TRACE_POINT(kTraceModelReady, m_Uac2, m_StreamInterfaceCount, TerminalCount(),
              m_ImplicitFeedbackPairing);
  return STATUS_SUCCESS;
}

VOID CUSBAudioCL::WalkEntities(const UCHAR* end) {
  CUSBAudioEntity* last = nullptr;
  for (const UCHAR* d = NextDescriptor(m_AudioControlHeader, end, kCsInterfaceType); d != nullptr;
       d = NextDescriptor(d, end, kCsInterfaceType)) {
    BOOLEAN stop = FALSE;
    CUSBAudioEntity* entity = CreateAudioEntity(this, d, m_Uac2, &stop);
    if (stop) break;
    if (entity == nullptr) continue;
    if (last != nullptr) {
      last->SetNext(entity);
    } else {
      m_Entities = entity;
    }
    last = entity;
  }
}

NTSTATUS CUSBAudioCL::LinkEntities() {
  // Only the last entity's result counts: a function may carry units this model cannot
  // resolve without being unusable, as long as its chain ends in something it can.
  NTSTATUS status = STATUS_SUCCESS;
  for (CUSBAudioEntity* e = m_Entities; e != nullptr; e = e->Next()) {
    e->Dump();
    status = e->Link();
    if (!NT_SUCCESS(status)) TRACE_POINT(kTraceEntityLinkFailed, e->GetID(), status);
  }
  return status;
}

NTSTATUS CUSBAudioCL::LinkTerminals() {
  for (USBAudioStreamInterface* s = m_StreamInterfaces; s != nullptr; s = s->Next) {
    const UCHAR* general = s->AltSettings[1].GeneralDescriptor;
    if (general == nullptr) {
      TRACE_POINT(kTraceTerminalLinkMissing, s->InterfaceNumber, 0);
      return STATUS_NOT_SUPPORTED;
    }
    // bTerminalLink sits at the same place in both versions' AS_GENERAL.
    const UCHAR link = reinterpret_cast<const StreamGeneral1*>(general)->bTerminalLink;
    s->Terminal = FindEntity(link);
    if (s->Terminal == nullptr) {
      TRACE_POINT(kTraceTerminalLinkMissing, s->InterfaceNumber, link);
      return STATUS_NOT_SUPPORTED;
    }
  }
  return STATUS_SUCCESS;
}

VOID CUSBAudioCL::ChoosePlaybackAndCapture() {
  m_PlaybackInterface = nullptr;
  m_CaptureInterface = nullptr;
  for (USBAudioStreamInterface* s = m_StreamInterfaces; s != nullptr; s = s->Next) {
    USBAudioStreamInterface*& slot =
        s->Direction == kDirectionCaptureModel ? m_CaptureInterface : m_PlaybackInterface;
    if (slot == nullptr) slot = s;
  }
  // A playback stream whose feedback endpoint cannot be served is paced by the capture stream
  // instead, which only works when both run from the same clock.
  m_ImplicitFeedbackPairing = SharesOneClock() && m_UnusableFeedbackSeen;
}

static ULONG TerminalClockSourceId(CUSBAudioEntity* entity) {
  if (entity == nullptr || !entity->IsTerminal()) return kNoEntityId;
  return static_cast<CUSBAudioTerminal*>(entity)->GetClockSourceID();
}

BOOLEAN CUSBAudioCL::SharesOneClock() const {
  if (m_PlaybackInterface == nullptr || m_CaptureInterface == nullptr) return FALSE;
  if (!m_Uac2) return TRUE;
  const ULONG playback = TerminalClockSourceId(m_PlaybackInterface->Terminal);
  return playback != kNoEntityId && playback == TerminalClockSourceId(m_CaptureInterface->Terminal);
}

CUSBAudioClock* CUSBAudioCL::TerminalClock(const USBAudioStreamInterface* record) const {
  if (record == nullptr || record->Terminal == nullptr || !record->Terminal->IsTerminal()) {
    return nullptr;
  }
  return static_cast<CUSBAudioTerminal*>(record->Terminal)->Clock();
}

USBAudioStreamInterface* CUSBAudioCL::StreamInterface(ULONG direction) const {
  if (direction == kDirectionPlaybackModel) return m_PlaybackInterface;
  if (direction == kDirectionCaptureModel) return m_CaptureInterface;
  return nullptr;
}

UCHAR CUSBAudioCL::AudioControlInterfaceNumber() const {
  return m_AudioControlInterface != nullptr ? m_AudioControlInterface->bInterfaceNumber : 0;
}

CUSBAudioEntity* CUSBAudioCL::FindEntity(ULONG id) const {
  for (CUSBAudioEntity* e = m_Entities; e != nullptr; e = e->Next()) {
    if (e->GetID() == id) return e;
  }
  return nullptr;
}

CUSBAudioEntity* CUSBAudioCL::NextTerminal(CUSBAudioEntity* after) const {
  CUSBAudioEntity* e = after != nullptr ? after->Next() : m_Entities;
  while (e != nullptr && !e->IsTerminal()) e = e->Next();
  return e;
}

CUSBAudioEntity* CUSBAudioCL::FirstTerminal() const {
  return NextTerminal(nullptr);
}

ULONG CUSBAudioCL::TerminalCount() const {
  ULONG count = 0;
  for (CUSBAudioEntity* e = FirstTerminal(); e != nullptr; e = NextTerminal(e)) ++count;
  return count;
}

CUSBAudioEntity* CUSBAudioCL::NextUnit(CUSBAudioEntity* after) const {
  CUSBAudioEntity* e = after != nullptr ? after->Next() : m_Entities;
  while (e != nullptr && !e->IsUnit()) e = e->Next();
  return e;
}

CUSBAudioEntity* CUSBAudioCL::FirstUnit() const {
  return NextUnit(nullptr);
}

PUSBD_INTERFACE_LIST_ENTRY CUSBAudioCL::CreateAudioInterfaceList(PLONG count) {
  const LONG entries = m_StreamInterfaceCount + 1;
  auto* list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(
      AllocateDriverPool(sizeof(USBD_INTERFACE_LIST_ENTRY) * (entries + 1)));
  if (list == nullptr) return nullptr;
  list[0].InterfaceDescriptor = m_AudioControlInterface;
  LONG i = 1;
  for (USBAudioStreamInterface* s = m_StreamInterfaces; s != nullptr; s = s->Next) {
    list[i++].InterfaceDescriptor = s->AltSettings[0].InterfaceDescriptor;
  }
  if (count != nullptr) *count = entries;
  return list;
}

NTSTATUS CUSBAudioCL::Configure() {
  LONG count = 0;
  PUSBD_INTERFACE_LIST_ENTRY list = m_Quirks.configureAllInterfaces
                                        ? CreateInterfaceList(&count)
                                        : CreateAudioInterfaceList(&count);
  if (list == nullptr) {
    TRACE_POINT(kTraceConfigureFailed, 1, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = ConfigurationRequest(list, count);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceConfigureFailed, 2, status);
  for (USBAudioStreamInterface* s = m_StreamInterfaces; NT_SUCCESS(status) && s != nullptr;
       s = s->Next) {
    s->CurrentAltSetting = 0;
    status = SelectAlternate(s->InterfaceNumber, 0);
    if (!NT_SUCCESS(status)) TRACE_POINT(kTraceConfigureFailed, 3, status);
  }
  if (NT_SUCCESS(status)) status = LinkPipes();
  FreeDriverPool(list);
  return status;
}
