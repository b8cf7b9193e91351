// The entity classes: creation from descriptors, linking by ID, names and the descriptor queries.
#include "audio_entities.h"

#include "audio_descriptor_rules.h"
#include "audio_trace_points.h"
#include "usb_audio_model.h"
#include "usb_support.h"

namespace {

// The bytes of a feature unit around its bmaControls: the fixed part before them (with
// bControlSize under 1.0) and iFeature after them.
constexpr ULONG kFeatureUnit2FixedLength = 6;
constexpr ULONG kFeatureUnit1FixedLength = 7;
constexpr ULONG kMaxFeatureControlBytes = 4;

enum class EntityKind {
  Stop,
  Dummy,
  InputTerminal,
  OutputTerminal,
  Feature,
  Processing,
  ClockSource,
  ClockSelector
};

EntityKind KindFor(UCHAR subtype, BOOLEAN uac2) {
  switch (subtype) {
    case uac::ac::kInputTerminal:
      return EntityKind::InputTerminal;
    case uac::ac::kOutputTerminal:
      return EntityKind::OutputTerminal;
    case uac::ac::kMixerUnit:
    case uac::ac::kSelectorUnit:
    case uac::ac1::kExtensionUnit:  // 2.0: its processing unit
      return EntityKind::Dummy;
    case uac::ac::kFeatureUnit:
      return EntityKind::Feature;
    case uac::ac1::kProcessingUnit:  // 2.0: its effect unit
      return uac2 ? EntityKind::Dummy : EntityKind::Processing;
    case uac::ac2::kExtensionUnit:
    case uac::ac2::kClockMultiplier:
    case uac::ac2::kSampleRateConverter:
      return uac2 ? EntityKind::Dummy : EntityKind::Stop;
    case uac::ac2::kClockSource:
      return uac2 ? EntityKind::ClockSource : EntityKind::Stop;
    case uac::ac2::kClockSelector:
      return uac2 ? EntityKind::ClockSelector : EntityKind::Stop;
    default:
      return EntityKind::Stop;
  }
}

}  // namespace

CUSBAudioEntity* CreateAudioEntity(CUSBAudioCL* owner, const UCHAR* descriptor, BOOLEAN uac2,
                                   BOOLEAN* stop) {
  *stop = FALSE;
  if (descriptor[0] < 3) {
    TRACE_POINT(kTraceEntityMalformed, 0, descriptor[0]);
    return nullptr;
  }
  const EntityKind kind = KindFor(descriptor[2], uac2);
  if (kind == EntityKind::Stop) {
    TRACE_POINT(kTraceEntityWalkStopped, descriptor[2]);
    *stop = TRUE;
    return nullptr;
  }
  if (!IsAudioDescriptorValid(AudioDescriptorPlace::Control, descriptor, uac2)) {
    TRACE_POINT(kTraceEntityMalformed, descriptor[2], descriptor[0]);
    return nullptr;
  }
  CUSBAudioEntity* entity = nullptr;
  switch (kind) {
    case EntityKind::InputTerminal:
      entity = new CUSBAudioInputTerminal(owner, descriptor);
      break;
    case EntityKind::OutputTerminal:
      entity = new CUSBAudioOutputTerminal(owner, descriptor);
      break;
    case EntityKind::Feature:
      entity = new CUSBAudioFeatureUnit(owner, descriptor);
      break;
    case EntityKind::Processing:
      entity = new CUSBAudioProcessingUnit(owner, descriptor);
      break;
    case EntityKind::ClockSource:
      entity = new CUSBAudioClockSource(owner, descriptor);
      break;
    case EntityKind::ClockSelector:
      entity = new CUSBAudioClockSelector(owner, descriptor);
      break;
    default:
      entity = new CUSBAudioDummyEntity(owner, descriptor);
      break;
  }
  if (entity == nullptr) *stop = TRUE;  // out of memory: the rest stays unmodelled
  return entity;
}

void* CUSBAudioEntity::operator new(SIZE_T bytes) noexcept {
  return AllocateDriverPool(bytes);
}

void CUSBAudioEntity::operator delete(void* memory) noexcept {
  FreeDriverPool(memory);
}

VOID CUSBAudioEntity::Dump() {
  TRACE_POINT(kTraceEntityDump, m_Descriptor[0], m_Descriptor[1], m_Descriptor[2], GetID());
}

ULONG CUSBAudioEntity::GetID() {
  return m_Descriptor[3];
}

ULONG CUSBAudioEntity::GetSourceID(ULONG) {
  return kNoEntityId;
}

USHORT CUSBAudioEntity::TerminalType() const {
  if (m_Descriptor == nullptr || !IsTerminal()) return uac::kTerminalUsbStreaming;
  // wTerminalType follows the ID in every terminal descriptor.
  return ReadLe16(m_Descriptor + 4);
}

BOOLEAN CUSBAudioEntity::IsTerminal() const {
  return Subtype() == uac::ac::kInputTerminal || Subtype() == uac::ac::kOutputTerminal;
}

BOOLEAN CUSBAudioEntity::IsClock() const {
  return m_Owner->IsUAC2() &&
         (Subtype() == uac::ac2::kClockSource || Subtype() == uac::ac2::kClockSelector);
}

BOOLEAN CUSBAudioEntity::IsUnit() const {
  return !IsTerminal() && !(m_Owner->IsUAC2() && Subtype() >= uac::ac2::kClockSource &&
                            Subtype() <= uac::ac2::kClockMultiplier);
}

NTSTATUS CUSBAudioEntity::FormatName(const char* prefix, PCHAR buffer, ULONG size) {
  if (buffer == nullptr || size == 0) return STATUS_BUFFER_TOO_SMALL;
  char digits[12];
  ULONG n = 0;
  ULONG id = GetID();
  do {
    digits[n++] = static_cast<char>('0' + id % 10);
    id /= 10;
  } while (id != 0);
  ULONG at = 0;
  BOOLEAN cut = FALSE;
  auto put = [&](char c) {
    if (at + 1 < size) {
      buffer[at++] = c;
    } else {
      cut = TRUE;
    }
  };
  for (const char* p = prefix; *p != '\0'; ++p) put(*p);
  put('(');
  while (n > 0) put(digits[--n]);
  put(')');
  buffer[at] = '\0';
  return cut ? STATUS_BUFFER_TOO_SMALL : STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClock::LinkClock() {
  return m_Owner->IsUAC2() ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
}

ULONG CUSBAudioClockSelector::GetSourceID(ULONG position) {
  if (position >= Selector()->bNrInPins) return kNoEntityId;
  return m_Descriptor[sizeof(ClockSelector2) + position];
}

CUSBAudioClock* CUSBAudioTerminal::Clock() const {
  if (m_Clock == nullptr || !m_Clock->IsClock()) return nullptr;
  return static_cast<CUSBAudioClock*>(m_Clock);
}

NTSTATUS CUSBAudioTerminal::LinkClockEntity() {
  m_Clock = nullptr;
  if (!m_Owner->IsUAC2()) return STATUS_SUCCESS;
  m_Clock = m_Owner->FindEntity(GetClockSourceID());
  return m_Clock != nullptr ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
}

BOOLEAN CUSBAudioTerminal::HasControlBelow(ULONG position, ULONG limit) {
  if (position >= limit) return FALSE;
  const ULONG field = (GetControls() >> (2 * position)) & 3;
  // 10b (host-programmable without read access) is not a valid encoding for these controls.
  return field == 1 || field == 3;
}

ULONG CUSBAudioInputTerminal::GetClockSourceID() {
  if (!m_Owner->IsUAC2()) return kNoEntityId;
  return reinterpret_cast<const InputTerminal2*>(m_Descriptor)->bCSourceID;
}

ULONG CUSBAudioInputTerminal::GetControls() {
  if (!m_Owner->IsUAC2()) return 0;
  return reinterpret_cast<const InputTerminal2*>(m_Descriptor)->bmControls;
}

NTSTATUS CUSBAudioOutputTerminal::Link() {
  m_Source = m_Owner->FindEntity(GetSourceID(0));
  if (m_Source == nullptr) return STATUS_NOT_SUPPORTED;
  return LinkClockEntity();
}

ULONG CUSBAudioOutputTerminal::GetSourceID(ULONG) {
  // bSourceID sits at the same place in both versions.
  return reinterpret_cast<const OutputTerminal1*>(m_Descriptor)->bSourceID;
}

ULONG CUSBAudioOutputTerminal::GetClockSourceID() {
  if (!m_Owner->IsUAC2()) return kNoEntityId;
  return reinterpret_cast<const OutputTerminal2*>(m_Descriptor)->bCSourceID;
}

ULONG CUSBAudioOutputTerminal::GetControls() {
  if (!m_Owner->IsUAC2()) return 0;
  return reinterpret_cast<const OutputTerminal2*>(m_Descriptor)->bmControls;
}

NTSTATUS CUSBAudioFeatureUnit::Link() {
  m_Source = m_Owner->FindEntity(GetSourceID(0));
  return m_Source != nullptr ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
}

ULONG CUSBAudioFeatureUnit::GetSourceID(ULONG) {
  return Head()->bSourceID;
}

BOOLEAN CUSBAudioFeatureUnit::Uac2() const {
  return m_Owner->IsUAC2();
}

ULONG CUSBAudioFeatureUnit::ChannelCount() const {
  if (Uac2()) return (Head()->bLength - kFeatureUnit2FixedLength) / 4;
  return (Head()->bLength - kFeatureUnit1FixedLength) / Head()->bControlSize;
}

BOOLEAN CUSBAudioFeatureUnit::HasChannelControl(ULONG channel, ULONG control,
                                                ControlAccess access) const {
  if (channel >= ChannelCount()) return FALSE;
  if (Uac2()) {
    if (control >= 16) return FALSE;
    const UCHAR* entry = m_Descriptor + 5 + 4 * channel;
    const ULONG controls = ReadLe32(entry);
    const ULONG field = (controls >> (2 * control)) & 3;
    return (field & (access == ControlAccess::Read ? 1u : 2u)) != 0;
  }
  const ULONG size = Head()->bControlSize;
  const ULONG used = size < kMaxFeatureControlBytes ? size : kMaxFeatureControlBytes;
  if (control >= 8 * used) return FALSE;
  const UCHAR* entry = m_Descriptor + sizeof(FeatureUnitHead) + size * channel;
  return (ReadLittleEndian(entry, used) >> control) & 1;
}

BOOLEAN CUSBAudioFeatureUnit::HasControlOnAnyChannel(ULONG control) const {
  const ULONG count = ChannelCount() < 255 ? ChannelCount() : 255;
  for (ULONG channel = 0; channel < count; ++channel) {
    if (HasChannelControl(channel, control, ControlAccess::Read)) return TRUE;
  }
  return FALSE;
}
