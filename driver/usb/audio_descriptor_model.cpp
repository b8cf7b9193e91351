// CUSBAudioDescriptorModel: the audio control interface and its entities, the choice of
// playback and capture interfaces, and the queries over both.
#include "audio_descriptor_model.h"

#include "audio_descriptor_rules.h"
#include "audio_trace_points.h"
#include "byte_order.h"
#include "driver_types.h"
#include "usb_audio_class.h"
#include "usb_support.h"

CUSBAudioDescriptorModel::~CUSBAudioDescriptorModel() {
  FreeStreamInterfaces();
  FreeEntities();
}

VOID CUSBAudioDescriptorModel::FreeStreamInterfaces() {
  while (USBAudioStreamInterface* record = m_StreamInterfaces) {
    m_StreamInterfaces = record->Next;
    FreeDriverPool(record->AltSettings);
    FreeDriverPool(record);
  }
  m_StreamInterfaceCount = 0;
  m_PlaybackInterface = nullptr;
  m_CaptureInterface = nullptr;
}

VOID CUSBAudioDescriptorModel::FreeEntities() {
  while (CUSBAudioEntity* entity = m_Entities) {
    m_Entities = entity->Next();
    delete entity;
  }
}

const UCHAR* CUSBAudioDescriptorModel::ConfigBegin() const {
  return reinterpret_cast<const UCHAR*>(m_Function.ConfigurationDescriptor());
}

const UCHAR* CUSBAudioDescriptorModel::ConfigEnd() const {
  return ConfigBegin() + m_Function.ConfigurationDescriptor()->wTotalLength;
}

const UCHAR* CUSBAudioDescriptorModel::NextDescriptor(const VOID* from, const UCHAR* end,
                                                      UCHAR type) const {
  const auto* current = static_cast<const UCHAR*>(from);
  PUSB_COMMON_DESCRIPTOR found = USBD_ParseDescriptors(
      m_Function.ConfigurationDescriptor(), m_Function.ConfigurationDescriptor()->wTotalLength,
      const_cast<UCHAR*>(current + current[0]), type);
  const auto* bytes = reinterpret_cast<const UCHAR*>(found);
  return bytes != nullptr && bytes < end ? bytes : nullptr;
}

const UCHAR* CUSBAudioDescriptorModel::EndOfInterface(const VOID* from) const {
  const UCHAR* next = NextDescriptor(from, ConfigEnd(), USB_INTERFACE_DESCRIPTOR_TYPE);
  return next != nullptr ? next : ConfigEnd();
}

PUSB_INTERFACE_DESCRIPTOR CUSBAudioDescriptorModel::FindAudioInterface(const VOID* start,
                                                                       LONG number, LONG setting,
                                                                       UCHAR subclass) const {
  return USBD_ParseConfigurationDescriptorEx(m_Function.ConfigurationDescriptor(),
                                             const_cast<VOID*>(start), number, setting,
                                             m_Quirks.audioClass, subclass, -1);
}

NTSTATUS CUSBAudioDescriptorModel::Build() {
  PAGED_CODE();
  FreeStreamInterfaces();
  FreeEntities();
  m_AudioControlInterface = nullptr;
  m_AudioControlHeader = nullptr;
  m_Quirks = LookupAudioQuirks(m_Function.DeviceDescriptor().idVendor,
                               m_Function.DeviceDescriptor().idProduct);
  m_WidePacketWindow = m_Quirks.widePacketWindow;
  if (m_Function.ConfigurationDescriptor() == nullptr ||
      m_Function.ConfigurationDescriptor()->wTotalLength < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
    return STATUS_NOT_SUPPORTED;
  }

  m_AudioControlInterface =
      FindAudioInterface(m_Function.ConfigurationDescriptor(), -1, 0, uac::kSubclassAudioControl);
  if (m_AudioControlInterface == nullptr) {
    TRACE_POINT(kTraceAudioControlMissing, m_Quirks.audioClass);
    return STATUS_NOT_SUPPORTED;
  }

  // The HEADER must be the very next descriptor, whole, and long enough for the version it names
  // in bcdADC.
  constexpr SIZE_T kVersionedLength = FIELD_OFFSET(AudioControlHeader1, wTotalLength);
  const UCHAR* header =
      reinterpret_cast<const UCHAR*>(m_AudioControlInterface) + m_AudioControlInterface->bLength;
  const SIZE_T room = static_cast<SIZE_T>(ConfigEnd() - header);
  if (room < kVersionedLength || header[0] < kVersionedLength || header[0] > room ||
      header[1] != uac::kCsInterface || header[2] != uac::ac::kHeader) {
    TRACE_POINT(kTraceAudioHeaderInvalid, room >= 3 ? header[0] : 0, room >= 3 ? header[1] : 0,
                room >= 3 ? header[2] : 0);
    return STATUS_NOT_SUPPORTED;
  }
  m_Uac2 = ReadLe16(header + FIELD_OFFSET(AudioControlHeader1, bcdADC)) == uac::kVersion2;
  ULONG totalLength = 0;
  if (IsAudioDescriptorValid(AudioDescriptorPlace::Control, header, m_Uac2)) {
    totalLength = m_Uac2 ? reinterpret_cast<const AudioControlHeader2*>(header)->wTotalLength
                         : reinterpret_cast<const AudioControlHeader1*>(header)->wTotalLength;
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

VOID CUSBAudioDescriptorModel::WalkEntities(const UCHAR* end) {
  CUSBAudioEntity* last = nullptr;
  for (const UCHAR* d = NextDescriptor(m_AudioControlHeader, end, uac::kCsInterface); d != nullptr;
       d = NextDescriptor(d, end, uac::kCsInterface)) {
    BOOLEAN stop = FALSE;
    CUSBAudioEntity* entity = CreateAudioEntity(&m_Owner, d, m_Uac2, &stop);
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

NTSTATUS CUSBAudioDescriptorModel::LinkEntities() {
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

NTSTATUS CUSBAudioDescriptorModel::LinkTerminals() {
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

VOID CUSBAudioDescriptorModel::ChoosePlaybackAndCapture() {
  m_PlaybackInterface = nullptr;
  m_CaptureInterface = nullptr;
  for (USBAudioStreamInterface* s = m_StreamInterfaces; s != nullptr; s = s->Next) {
    USBAudioStreamInterface*& slot =
        s->Direction == Value(Direction::Capture) ? m_CaptureInterface : m_PlaybackInterface;
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

BOOLEAN CUSBAudioDescriptorModel::SharesOneClock() const {
  if (m_PlaybackInterface == nullptr || m_CaptureInterface == nullptr) return FALSE;
  if (!m_Uac2) return TRUE;
  const ULONG playback = TerminalClockSourceId(m_PlaybackInterface->Terminal);
  return playback != kNoEntityId && playback == TerminalClockSourceId(m_CaptureInterface->Terminal);
}

CUSBAudioClock* CUSBAudioDescriptorModel::TerminalClock(
    const USBAudioStreamInterface* record) const {
  if (record == nullptr || record->Terminal == nullptr || !record->Terminal->IsTerminal()) {
    return nullptr;
  }
  return static_cast<CUSBAudioTerminal*>(record->Terminal)->Clock();
}

USBAudioStreamInterface* CUSBAudioDescriptorModel::StreamInterface(ULONG direction) const {
  if (direction == Value(Direction::Playback)) return m_PlaybackInterface;
  if (direction == Value(Direction::Capture)) return m_CaptureInterface;
  return nullptr;
}

UCHAR CUSBAudioDescriptorModel::AudioControlInterfaceNumber() const {
  return m_AudioControlInterface != nullptr ? m_AudioControlInterface->bInterfaceNumber : 0;
}

CUSBAudioEntity* CUSBAudioDescriptorModel::FindEntity(ULONG id) const {
  for (CUSBAudioEntity* e = m_Entities; e != nullptr; e = e->Next()) {
    if (e->GetID() == id) return e;
  }
  return nullptr;
}

CUSBAudioEntity* CUSBAudioDescriptorModel::NextEntity(CUSBAudioEntity* after,
                                                      BOOLEAN (CUSBAudioEntity::*is)()
                                                          const) const {
  CUSBAudioEntity* e = after != nullptr ? after->Next() : m_Entities;
  while (e != nullptr && !(e->*is)()) e = e->Next();
  return e;
}

CUSBAudioEntity* CUSBAudioDescriptorModel::NextTerminal(CUSBAudioEntity* after) const {
  return NextEntity(after, &CUSBAudioEntity::IsTerminal);
}

CUSBAudioEntity* CUSBAudioDescriptorModel::FirstTerminal() const {
  return NextTerminal(nullptr);
}

ULONG CUSBAudioDescriptorModel::TerminalCount() const {
  ULONG count = 0;
  for (CUSBAudioEntity* e = FirstTerminal(); e != nullptr; e = NextTerminal(e)) ++count;
  return count;
}

CUSBAudioEntity* CUSBAudioDescriptorModel::NextUnit(CUSBAudioEntity* after) const {
  return NextEntity(after, &CUSBAudioEntity::IsUnit);
}

CUSBAudioEntity* CUSBAudioDescriptorModel::FirstUnit() const {
  return NextUnit(nullptr);
}

PUSBD_INTERFACE_LIST_ENTRY CUSBAudioDescriptorModel::CreateAudioInterfaceList(PLONG count) const {
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
