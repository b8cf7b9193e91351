// The entities of the audio control interface as the report shows them: terminal types by name,
// the channel cluster an input terminal starts, a clock source's kind and rates, and a feature
// unit's controls per channel with their volume ranges.
#include <algorithm>

#include "descriptor_bytes.h"
#include "device_report.h"
#include "usb_names.h"

namespace tarnlink::tool {
namespace {

// Audio 2.0 RANGE request for the sampling frequency control of a clock source.
constexpr UCHAR kRequestRange = 0x02;
constexpr UCHAR kSamplingFrequencyControl = 0x01;
constexpr uint32_t kSubrangeBytes = 12;
// More subranges than any real clock has; a larger count is not believed.
constexpr uint32_t kMaxSubranges = 256;
// A stepped subrange with at most this many rates is listed rate by rate.
constexpr uint32_t kMaxListedSteps = 64;
// Feature unit controls of either class version (Audio 2.0 numbers 15 of them).
constexpr uint32_t kFeatureControls = 16;
constexpr uint32_t kMaxReportedChannels = 64;

std::string KindOf(CUSBAudioEntity& e, bool uac2) {
  switch (e.Subtype()) {
    case uac::ac::kInputTerminal:
      return "input_terminal";
    case uac::ac::kOutputTerminal:
      return "output_terminal";
    case uac::ac::kFeatureUnit:
      return "feature_unit";
    case uac::ac2::kClockSource:
      return uac2 ? "clock_source" : "other";
    case uac::ac2::kClockSelector:
      return uac2 ? "clock_selector" : "other";
    case uac::ac1::kProcessingUnit:
      return uac2 ? "other" : "processing_unit";
    default:
      return "other";
  }
}

void DescribeChannelCluster(const uint8_t* d, bool uac2, EntityReport* r) {
  // Audio 1.0: bNrChannels at 7, wChannelConfig at 8; Audio 2.0: bNrChannels at 8,
  // bmChannelConfig at 9.
  const size_t count = uac2 ? 8 : 7;
  if (d[0] < count + (uac2 ? 5 : 3)) return;
  r->channels = DescriptorField(d, count, 1);
  r->channelConfig = ChannelNames(DescriptorField(d, count + 1, uac2 ? 4 : 2), uac2);
}

void DescribeFeatureUnit(CUSBAudioCL& model, CUSBAudioFeatureUnit& unit, EntityReport* r) {
  const ULONG channels = std::min<ULONG>(unit.ChannelCount(), kMaxReportedChannels);
  for (ULONG channel = 0; channel < channels; ++channel) {
    FeatureChannelReport c;
    c.channel = channel;
    for (ULONG control = 0; control < kFeatureControls; ++control) {
      if (unit.HasChannelControl(channel, control, ControlAccess::Read)) {
        c.controls.push_back(FeatureControlName(control));
      }
    }
    if (unit.HasChannelControl(channel, kFeatureControlVolume, ControlAccess::Read)) {
      SHORT minimum = 0, maximum = 0;
      USHORT resolution = 0;
      if (NT_SUCCESS(model.GetVolumeRange(&unit, channel, &minimum, &maximum, &resolution))) {
        // Volume is in 1/256 dB.
        c.volume = VolumeRangeDb{minimum / 256.0, maximum / 256.0, resolution / 256.0};
      }
    }
    if (!c.controls.empty()) r->featureChannels.push_back(std::move(c));
  }
}

}  // namespace

std::optional<ClockRates> ReadClockRates(CUSBAudioCL& model, CUSBAudioEntity& source) {
  UCHAR count[2] = {};
  if (!NT_SUCCESS(model.EntityRequest(ControlAccess::Read, kRequestRange,
                                      kSamplingFrequencyControl, 0, source.GetID(), sizeof(count),
                                      count))) {
    return std::nullopt;
  }
  const uint32_t subranges = count[0] | (count[1] << 8);
  if (subranges > kMaxSubranges) return std::nullopt;
  std::vector<UCHAR> answer(2 + kSubrangeBytes * subranges);
  ULONG received = 0;
  if (!NT_SUCCESS(model.EntityRequest(ControlAccess::Read, kRequestRange,
                                      kSamplingFrequencyControl, 0, source.GetID(),
                                      static_cast<USHORT>(answer.size()), answer.data(),
                                      &received))) {
    return std::nullopt;
  }
  // Only the subranges the device actually sent count.
  const size_t whole = received >= 2 ? (std::min<size_t>(received, answer.size()) - 2) / kSubrangeBytes
                                    : 0;
  ClockRates rates;
  for (size_t i = 0; i < whole; ++i) {
    const UCHAR* s = answer.data() + 2 + kSubrangeBytes * i;
    const auto at = [s](int field) {
      return uint32_t{s[4 * field]} | (uint32_t{s[4 * field + 1]} << 8) |
             (uint32_t{s[4 * field + 2]} << 16) | (uint32_t{s[4 * field + 3]} << 24);
    };
    const RateSpan span{at(0), at(1), at(2)};
    if (span.minimum == span.maximum) {
      rates.rates.push_back(span.minimum);
    } else if (span.resolution != 0 && span.maximum > span.minimum &&
               (span.maximum - span.minimum) / span.resolution < kMaxListedSteps) {
      const uint32_t steps = (span.maximum - span.minimum) / span.resolution;
      for (uint32_t k = 0; k <= steps; ++k) rates.rates.push_back(span.minimum + k * span.resolution);
    } else {
      rates.spans.push_back(span);
    }
  }
  return rates;
}

std::vector<CUSBAudioEntity*> ClockSourcesOf(CUSBAudioCL& model, CUSBAudioEntity* clock) {
  std::vector<CUSBAudioEntity*> sources;
  std::vector<CUSBAudioEntity*> pending = {clock};
  std::vector<CUSBAudioEntity*> visited;  // selectors may share inputs or even form a loop
  while (!pending.empty()) {
    CUSBAudioEntity* e = pending.back();
    pending.pop_back();
    if (e == nullptr || std::find(visited.begin(), visited.end(), e) != visited.end()) continue;
    visited.push_back(e);
    if (e->Subtype() == uac::ac2::kClockSource) {
      sources.push_back(e);
    } else if (e->Subtype() == uac::ac2::kClockSelector) {
      auto* selector = static_cast<CUSBAudioClockSelector*>(e);
      for (ULONG i = 0; i < selector->InputCount(); ++i) {
        pending.push_back(model.FindEntity(selector->GetSourceID(i)));
      }
    }
  }
  std::sort(sources.begin(), sources.end(),
            [](CUSBAudioEntity* a, CUSBAudioEntity* b) { return a->GetID() < b->GetID(); });
  return sources;
}

EntityReport DescribeEntity(CUSBAudioCL& model, CUSBAudioEntity& e) {
  const bool uac2 = model.IsUAC2();
  EntityReport r;
  r.id = e.GetID();
  char name[32];
  e.GetName(name, sizeof(name));
  r.name = name;
  r.kind = KindOf(e, uac2);
  if (e.IsTerminal()) {
    r.terminalType = e.TerminalType();
    r.terminalTypeName = TerminalTypeName(e.TerminalType());
    const ULONG clock = static_cast<CUSBAudioTerminal&>(e).GetClockSourceID();
    if (clock != kNoEntityId) r.clockId = clock;
  }
  if (r.kind == "input_terminal") DescribeChannelCluster(e.Descriptor(), uac2, &r);
  if (r.kind == "output_terminal" || r.kind == "feature_unit") {
    r.sourceIds.push_back(e.GetSourceID(0));
  } else if (r.kind == "clock_selector") {
    auto& selector = static_cast<CUSBAudioClockSelector&>(e);
    for (ULONG i = 0; i < selector.InputCount(); ++i) r.sourceIds.push_back(e.GetSourceID(i));
  }
  if (r.kind == "clock_source") {
    r.clockKind = ClockKindName(static_cast<uint8_t>(DescriptorField(e.Descriptor(), 4, 1)));
    r.clockRates = ReadClockRates(model, e);
  }
  if (r.kind == "feature_unit") {
    DescribeFeatureUnit(model, static_cast<CUSBAudioFeatureUnit&>(e), &r);
  }
  return r;
}

}  // namespace tarnlink::tool
