// The class requests of the clock entities and terminals.
#include "audio_entities.h"
#include "audio_trace_points.h"
#include "byte_order.h"
#include "usb_audio_class.h"
#include "usb_audio_model.h"
#include "usb_support.h"

namespace {

// Clock source bmControls: the validity control is readable.
constexpr UCHAR kClockValidityReadable = 0x04;
constexpr ULONG kConnectorPosition = 1;
constexpr USHORT kConnectorLength = 6;
constexpr USHORT kRangeProbeLength = 16;
constexpr ULONG kSubrangeBytes = 12;
// 2 + 12 x 5461 is the longest answer a control request can carry.
constexpr ULONG kMaxSubranges = 5461;

struct Subrange {
  ULONG dMIN;
  ULONG dMAX;
  ULONG dRES;
};

Subrange SubrangeAt(const UCHAR* ranges, ULONG index) {
  const UCHAR* p = ranges + 2 + kSubrangeBytes * index;
  return {ReadLe32(p), ReadLe32(p + 4), ReadLe32(p + 8)};
}

BOOLEAN SubrangeHolds(const Subrange& r, ULONG rate) {
  if (rate < r.dMIN || rate > r.dMAX) return FALSE;
  if (r.dMIN == r.dMAX) return TRUE;
  return r.dRES != 0 && (rate - r.dMIN) % r.dRES == 0;
}

BOOLEAN Within(ULONG value, ULONG lower, ULONG upper) {
  return value >= lower && value <= upper;
}

// A clock selector's inputs may name other selectors; a device whose selectors name each other
// in a ring would otherwise recurse without end.
class ReentryGuard {
 public:
  explicit ReentryGuard(BOOLEAN& busy) : m_Busy(busy), m_Entered(!busy) { m_Busy = TRUE; }
  ~ReentryGuard() {
    if (m_Entered) m_Busy = FALSE;
  }
  ReentryGuard(const ReentryGuard&) = delete;
  ReentryGuard& operator=(const ReentryGuard&) = delete;
  BOOLEAN Entered() const { return m_Entered; }

 private:
  BOOLEAN& m_Busy;
  BOOLEAN m_Entered;
};

}  // namespace

// --- clock source ------------------------------------------------------------------------

NTSTATUS CUSBAudioClockSource::GetSampleRate(PULONG rate) {
  UCHAR data[4] = {};
  NTSTATUS status =
      m_Owner->EntityRequest(ControlAccess::Read, uac::request2::kCur,
                             uac::clock_source_control::kSamplingFrequency, 0, GetID(), 4, data);
  if (NT_SUCCESS(status)) *rate = ReadLe32(data);
  return status;
}

NTSTATUS CUSBAudioClockSource::SetSampleRate(ULONG rate) {
  UCHAR data[4] = {};
  WriteLittleEndian(data, rate, sizeof(data));
  return m_Owner->EntityRequest(ControlAccess::Write, uac::request2::kCur,
                                uac::clock_source_control::kSamplingFrequency, 0, GetID(), 4, data);
}

NTSTATUS CUSBAudioClockSource::ReadRanges(PUCHAR* ranges, PULONG count) {
  *ranges = nullptr;
  *count = 0;
  UCHAR probe[kRangeProbeLength] = {};
  NTSTATUS status = m_Owner->EntityRequest(ControlAccess::Read, uac::request2::kRange,
                                           uac::clock_source_control::kSamplingFrequency, 0,
                                           GetID(), kRangeProbeLength, probe);
  if (!NT_SUCCESS(status)) return status;
  const ULONG subranges = ReadLe16(probe);
  if (subranges > kMaxSubranges) {
    TRACE_POINT(kTraceRangeTooLarge, GetID(), subranges);
    return STATUS_UNSUCCESSFUL;
  }
  const ULONG length = 2 + kSubrangeBytes * subranges;
  auto* buffer = static_cast<PUCHAR>(AllocateDriverPool(length));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG received = 0;
  status = m_Owner->EntityRequest(ControlAccess::Read, uac::request2::kRange,
                                  uac::clock_source_control::kSamplingFrequency, 0, GetID(),
                                  static_cast<USHORT>(length), buffer, &received);
  if (!NT_SUCCESS(status)) {
    FreeDriverPool(buffer);
    return status;
  }
  // Only the subranges the device actually sent count.
  const ULONG delivered = received > length ? length : received;
  const ULONG whole = delivered >= 2 ? (delivered - 2) / kSubrangeBytes : 0;
  *count = whole < subranges ? whole : subranges;
  *ranges = buffer;
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClockSource::GetSampleRateRange(PULONG minimum, PULONG maximum, ULONG lower,
                                                  ULONG upper) {
  *minimum = 0;
  *maximum = 0;
  PUCHAR ranges = nullptr;
  ULONG count = 0;
  NTSTATUS status = ReadRanges(&ranges, &count);
  for (ULONG i = 0; i < count; ++i) {
    const Subrange r = SubrangeAt(ranges, i);
    if (Within(r.dMIN, lower, upper) && (*minimum == 0 || r.dMIN < *minimum)) *minimum = r.dMIN;
    if (Within(r.dMAX, lower, upper) && (*maximum == 0 || r.dMAX > *maximum)) *maximum = r.dMAX;
  }
  FreeDriverPool(ranges);
  return status;
}

NTSTATUS CUSBAudioClockSource::IsSampleRateSupported(ULONG rate) {
  PUCHAR ranges = nullptr;
  ULONG count = 0;
  NTSTATUS status = ReadRanges(&ranges, &count);
  if (!NT_SUCCESS(status)) return status;
  status = STATUS_NOT_SUPPORTED;
  for (ULONG i = 0; i < count; ++i) {
    if (SubrangeHolds(SubrangeAt(ranges, i), rate)) {
      status = STATUS_SUCCESS;
      break;
    }
  }
  FreeDriverPool(ranges);
  return status;
}

BOOLEAN CUSBAudioClockSource::IsValid() {
  if ((Source()->bmControls & kClockValidityReadable) == 0) return TRUE;
  UCHAR valid = 0;
  NTSTATUS status =
      m_Owner->EntityRequest(ControlAccess::Read, uac::request2::kCur,
                             uac::clock_source_control::kClockValid, 0, GetID(), 1, &valid);
  return NT_SUCCESS(status) && valid != 0;
}

// --- clock selector ----------------------------------------------------------------------

CUSBAudioClock* CUSBAudioClockSelector::InputClock(ULONG position) {
  CUSBAudioEntity* input = m_Owner->FindEntity(GetSourceID(position));
  if (input == nullptr || !input->IsClock()) return nullptr;
  return static_cast<CUSBAudioClock*>(input);
}

NTSTATUS CUSBAudioClockSelector::GetSelectedInput(PULONG position) {
  const ULONG pins = Selector()->bNrInPins;
  if (pins == 0) return STATUS_UNSUCCESSFUL;
  if (pins == 1) {
    *position = 0;
    return STATUS_SUCCESS;
  }
  UCHAR pin = 0;
  NTSTATUS status =
      m_Owner->EntityRequest(ControlAccess::Read, uac::request2::kCur,
                             uac::clock_selector_control::kSelector, 0, GetID(), 1, &pin);
  if (!NT_SUCCESS(status)) return status;
  if (pin < 1 || pin > pins) {
    TRACE_POINT(kTraceInvalidClockSelection, GetID(), pin);
    return STATUS_NOT_SUPPORTED;
  }
  *position = pin - 1u;
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClockSelector::SelectInput(ULONG position) {
  UCHAR pin = static_cast<UCHAR>(position + 1);
  return m_Owner->EntityRequest(ControlAccess::Write, uac::request2::kCur,
                                uac::clock_selector_control::kSelector, 0, GetID(), 1, &pin);
}

NTSTATUS CUSBAudioClockSelector::GetSampleRate(PULONG rate) {
  ReentryGuard guard(m_Busy);
  if (!guard.Entered()) return STATUS_NOT_SUPPORTED;
  ULONG position = 0;
  NTSTATUS status = GetSelectedInput(&position);
  if (!NT_SUCCESS(status)) return status;
  CUSBAudioClock* clock = InputClock(position);
  return clock != nullptr ? clock->GetSampleRate(rate) : STATUS_NOT_SUPPORTED;
}

NTSTATUS CUSBAudioClockSelector::GetSampleRateRange(PULONG minimum, PULONG maximum, ULONG lower,
                                                    ULONG upper) {
  *minimum = 0;
  *maximum = 0;
  ReentryGuard guard(m_Busy);
  if (!guard.Entered()) return STATUS_NOT_SUPPORTED;
  NTSTATUS status = STATUS_NOT_SUPPORTED;
  for (ULONG i = 0; i < InputCount(); ++i) {
    CUSBAudioClock* clock = InputClock(i);
    if (clock == nullptr) return STATUS_NOT_SUPPORTED;
    ULONG inputMinimum = 0;
    ULONG inputMaximum = 0;
    status = clock->GetSampleRateRange(&inputMinimum, &inputMaximum, lower, upper);
    // An input with nothing inside the bounds reports 0, which must not become the minimum.
    if (inputMinimum != 0 && (*minimum == 0 || inputMinimum < *minimum)) *minimum = inputMinimum;
    if (inputMaximum > *maximum) *maximum = inputMaximum;
  }
  return status;
}

template <typename Attempt>
NTSTATUS CUSBAudioClockSelector::FirstInputThat(Attempt attempt) {
  ReentryGuard guard(m_Busy);
  if (!guard.Entered()) return STATUS_NOT_SUPPORTED;
  NTSTATUS status = STATUS_NOT_SUPPORTED;
  for (ULONG i = 0; i < InputCount(); ++i) {
    CUSBAudioClock* clock = InputClock(i);
    if (clock == nullptr) return STATUS_NOT_SUPPORTED;
    status = attempt(i, clock);
    if (NT_SUCCESS(status)) break;
  }
  return status;
}

NTSTATUS CUSBAudioClockSelector::IsSampleRateSupported(ULONG rate) {
  return FirstInputThat(
      [rate](ULONG, CUSBAudioClock* clock) { return clock->IsSampleRateSupported(rate); });
}

NTSTATUS CUSBAudioClockSelector::SetSampleRate(ULONG rate) {
  return FirstInputThat([this, rate](ULONG position, CUSBAudioClock* clock) {
    NTSTATUS status = clock->IsSampleRateSupported(rate);
    if (NT_SUCCESS(status)) status = clock->SetSampleRate(rate);
    if (NT_SUCCESS(status)) status = SelectInput(position);
    return status;
  });
}

BOOLEAN CUSBAudioClockSelector::IsValid() {
  ReentryGuard guard(m_Busy);
  if (!guard.Entered()) return FALSE;
  ULONG position = 0;
  if (!NT_SUCCESS(GetSelectedInput(&position))) return FALSE;
  CUSBAudioClock* clock = InputClock(position);
  return clock != nullptr && clock->IsValid();
}

// --- terminals ---------------------------------------------------------------------------

ULONG CUSBAudioTerminal::GetConnectorState() {
  if (!HasControl(kConnectorPosition)) return kConnectorStateUnknown;
  UCHAR data[kConnectorLength] = {};
  NTSTATUS status =
      m_Owner->EntityRequest(ControlAccess::Read, uac::request2::kCur,
                             uac::terminal_control::kConnector, 0, GetID(), kConnectorLength, data);
  if (!NT_SUCCESS(status)) return kConnectorStateUnknown;
  return data[0] != 0 ? 1 : 0;
}
