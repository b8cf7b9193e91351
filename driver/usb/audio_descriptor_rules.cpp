#include "audio_descriptor_rules.h"

#include "audio_descriptors.h"
#include "usb_audio_class.h"

namespace {

enum class Version : UCHAR { Both, Uac1, Uac2 };

struct DescriptorRule {
  Version version;
  AudioDescriptorPlace place;
  UCHAR subtype;
  UCHAR minimumLength;
  // The variable part, checked once the fixed part is known to be there; null when none.
  BOOLEAN (*complete)(const UCHAR* descriptor);
};

// bmaControls of an Audio 1.0 feature unit: bControlSize bytes per channel, master included,
// and iFeature after them. A zero control size would leave the channel count undefined.
BOOLEAN FeatureUnit1Complete(const UCHAR* d) {
  const auto* head = reinterpret_cast<const FeatureUnitHead*>(d);
  return head->bControlSize != 0 &&
         head->bLength >= sizeof(FeatureUnitHead) + 1 + head->bControlSize;
}

// baCSourceID[bNrInPins], then bmControls and iClockSelector.
BOOLEAN ClockSelectorComplete(const UCHAR* d) {
  const auto* selector = reinterpret_cast<const ClockSelector2*>(d);
  return selector->bLength >= sizeof(ClockSelector2) + selector->bNrInPins + 2;
}

// Only the fields of type I formats are ever read; 1.0 adds its rate description.
BOOLEAN Format1Complete(const UCHAR* d) {
  const auto* format = reinterpret_cast<const FormatTypeI1*>(d);
  if (format->bFormatType != uac::kFormatTypeI) return TRUE;
  return format->bLength >= sizeof(FormatTypeI1) &&
         format->bLength >= FormatTypeI1Length(format->bSamFreqType);
}

BOOLEAN Format2Complete(const UCHAR* d) {
  const auto* format = reinterpret_cast<const FormatTypeI2*>(d);
  return format->bFormatType != uac::kFormatTypeI || format->bLength >= sizeof(FormatTypeI2);
}

// The bytes every format descriptor needs for its bFormatType.
constexpr UCHAR kFormatTypeLength = 4;
// The fixed part of a 2.0 feature unit and the master channel's 4-byte bmaControls.
constexpr UCHAR kFeatureUnit2Length = 6 + 4;

using enum AudioDescriptorPlace;
constexpr DescriptorRule kRules[] = {
    {Version::Uac1, Control, uac::ac::kHeader, sizeof(AudioControlHeader1), nullptr},
    {Version::Uac2, Control, uac::ac::kHeader, sizeof(AudioControlHeader2), nullptr},
    {Version::Uac1, Control, uac::ac::kInputTerminal, sizeof(InputTerminal1), nullptr},
    {Version::Uac2, Control, uac::ac::kInputTerminal, sizeof(InputTerminal2), nullptr},
    {Version::Uac1, Control, uac::ac::kOutputTerminal, sizeof(OutputTerminal1), nullptr},
    {Version::Uac2, Control, uac::ac::kOutputTerminal, sizeof(OutputTerminal2), nullptr},
    {Version::Uac1, Control, uac::ac::kFeatureUnit, sizeof(FeatureUnitHead), FeatureUnit1Complete},
    {Version::Uac2, Control, uac::ac::kFeatureUnit, kFeatureUnit2Length, nullptr},
    {Version::Uac2, Control, uac::ac2::kClockSource, sizeof(ClockSource2), nullptr},
    {Version::Uac2, Control, uac::ac2::kClockSelector, sizeof(ClockSelector2),
     ClockSelectorComplete},
    {Version::Uac1, Streaming, uac::as::kGeneral, sizeof(StreamGeneral1), nullptr},
    {Version::Uac2, Streaming, uac::as::kGeneral, sizeof(StreamGeneral2), nullptr},
    {Version::Uac1, Streaming, uac::as::kFormatType, kFormatTypeLength, Format1Complete},
    {Version::Uac2, Streaming, uac::as::kFormatType, kFormatTypeLength, Format2Complete},
    {Version::Both, Endpoint, uac::ep::kGeneral, sizeof(EndpointGeneral), nullptr},
};

// Every minimum covers the bytes the row's check reads.
constexpr bool MinimumsCoverTheirChecks() {
  for (const DescriptorRule& rule : kRules) {
    if (rule.minimumLength < 3) return false;
    if (rule.complete == FeatureUnit1Complete && rule.minimumLength < sizeof(FeatureUnitHead)) {
      return false;
    }
    if (rule.complete == ClockSelectorComplete && rule.minimumLength < sizeof(ClockSelector2)) {
      return false;
    }
    if ((rule.complete == Format1Complete || rule.complete == Format2Complete) &&
        rule.minimumLength < kFormatTypeLength) {
      return false;
    }
  }
  return true;
}
static_assert(MinimumsCoverTheirChecks());

BOOLEAN RuleApplies(const DescriptorRule& rule, AudioDescriptorPlace place, UCHAR subtype,
                    BOOLEAN uac2) {
  if (rule.place != place || rule.subtype != subtype) return FALSE;
  return rule.version == Version::Both || (rule.version == Version::Uac2) == (uac2 != FALSE);
}

}  // namespace

BOOLEAN IsAudioDescriptorValid(AudioDescriptorPlace place, const UCHAR* descriptor, BOOLEAN uac2) {
  const UCHAR length = descriptor[0];
  const UCHAR leastLength = place == Control ? sizeof(AudioEntityDescriptor)
                                             : FIELD_OFFSET(AudioEntityDescriptor, bEntityID);
  if (length < leastLength) return FALSE;
  for (const DescriptorRule& rule : kRules) {
    if (!RuleApplies(rule, place, descriptor[2], uac2)) continue;
    if (length < rule.minimumLength) return FALSE;
    return rule.complete == nullptr || rule.complete(descriptor);
  }
  return TRUE;
}
