// The text form of a device report.
#include <cstdio>
#include <string>

#include "report_output.h"

namespace tarnlink::tool {
namespace {

std::string Format(const char* format, auto... args) {
  char line[512];
  std::snprintf(line, sizeof(line), format, args...);
  return line;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : separator) + s;
  return out;
}

std::string Numbers(const std::vector<uint32_t>& values) {
  std::vector<std::string> items;
  for (uint32_t v : values) items.push_back(std::to_string(v));
  return Join(items, ", ");
}

// 125 us, 1 ms, 16 ms.
std::string Duration(uint32_t us) {
  return us % 1000 == 0 ? Format("%u ms", us / 1000) : Format("%u us", us);
}

std::string Rates(const std::vector<uint32_t>& rates, const std::vector<RateSpan>& spans) {
  std::vector<std::string> items;
  if (!rates.empty()) items.push_back("rates " + Numbers(rates) + " Hz");
  for (const RateSpan& s : spans) {
    items.push_back(s.resolution == 0
                        ? Format("any rate %u..%u Hz", s.minimum, s.maximum)
                        : Format("%u..%u Hz in steps of %u", s.minimum, s.maximum, s.resolution));
  }
  return Join(items, ", ");
}

std::string Endpoint(const char* role, const std::optional<EndpointReport>& e) {
  if (!e) return Format("      %s endpoint: none\n", role);
  std::string line = Format("      %s endpoint: 0x%02X %s/%s, wMaxPacketSize 0x%04X (", role,
                            e->address, e->sync.c_str(), e->usage.c_str(), e->maxPacket);
  line += e->transactions > 1
              ? Format("%u x %u bytes", e->transactions, e->capacity / e->transactions)
              : Format("%u bytes", e->capacity);
  line += Format("), every %s (bInterval %u)", Duration(e->intervalUs).c_str(), e->interval);
  if (e->feedbackFormat) {
    line += Format(", %s feedback", e->feedbackFormat->c_str());
    if (e->feedbackPeriodUs) line += " refreshed every " + Duration(*e->feedbackPeriodUs);
  }
  return line + "\n";
}

std::string Interface(const std::optional<uint32_t>& number) {
  return number ? std::to_string(*number) : "none";
}

std::string Text(const std::optional<std::string>& s, const char* absent) {
  return s ? "\"" + *s + "\"" : std::string(absent);
}

std::string Entity(const EntityReport& e) {
  std::string out = Format("  %-18s %s", e.name.c_str(), e.kind.c_str());
  if (e.terminalType) {
    out += Format(", type 0x%04X %s", *e.terminalType, e.terminalTypeName->c_str());
  }
  if (!e.sourceIds.empty()) out += ", from " + Numbers(e.sourceIds);
  if (e.clockId) out += Format(", clock %u", *e.clockId);
  if (e.channels) {
    out += Format(", %u ch", *e.channels);
    if (!e.channelConfig.empty()) out += " (" + Join(e.channelConfig, " ") + ")";
  }
  if (e.clockKind) out += ", " + *e.clockKind;
  if (e.clockRates) out += ", " + Rates(e.clockRates->rates, e.clockRates->spans);
  out += "\n";
  for (const FeatureChannelReport& c : e.featureChannels) {
    out += Format("    channel %u%s: %s", c.channel, c.channel == 0 ? " (master)" : "",
                  Join(c.controls, ", ").c_str());
    if (c.volume) {
      out += Format("; volume %.2f..%.2f dB in steps of %.4f dB", c.volume->minimum,
                    c.volume->maximum, c.volume->resolution);
    }
    out += "\n";
  }
  return out;
}

std::string Alt(const AltSettingReport& a) {
  std::string out = Format("    alt %u: %s, %u ch, %u-byte slots, %u bits", a.alt,
                           Join(a.formats, "|").c_str(), a.channels, a.subslotBytes,
                           a.bitResolution);
  if (!a.channelConfig.empty()) out += " (" + Join(a.channelConfig, " ") + ")";
  if (a.rates && a.continuousRates) {
    out += Format(", %u..%u Hz", (*a.rates)[0], (*a.rates)[1]);
  } else if (a.rates || !a.rateSpans.empty()) {
    out += ", " + Rates(a.rates.value_or(std::vector<uint32_t>{}), a.rateSpans);
  }
  out += "\n";
  if (a.skipped) out += "      never selected: " + *a.skipped + "\n";
  out += Endpoint("data", a.data) + Endpoint("feedback", a.feedback);
  for (const IgnoredEndpointReport& e : a.ignoredEndpoints) {
    out += Format("      endpoint 0x%02X (%s) not used: %s\n", e.address, e.usage.c_str(),
                  e.reason.c_str());
  }
  return out;
}

std::string Adapter(const AdapterReport& a) {
  std::string out = "adapter:\n";
  out += a.fixedRate != 0 ? Format("  fixed rate %u Hz\n", a.fixedRate)
                          : std::string("  free-rate mode\n");
  out += Format("  native DSD: %s (%s)\n", a.nativeDsd ? "yes" : "no",
                a.nativeDsdFromRegistry ? "DSDNativeModeSupported in the hardware key"
                                        : "probed with the request to play PCM");
  out += Format("  playback only: %s; AMD workaround: %s\n", a.playbackOnly ? "yes" : "no",
                a.amdWorkaround ? "yes" : "no");
  out += Format("  transfers: playback %u ms, %u in flight; capture %u ms\n",
                a.playbackTransferMs, a.playbackTransfersInFlight, a.captureTransferMs);
  out += "  subdevice reference string: " +
         (a.referenceString ? *a.referenceString
                            : std::string("none (no name for the fixed rate; no subdevice)")) +
         "\n";
  return out;
}

}  // namespace

std::string ReportText(const DeviceReport& r) {
  if (r.refused) {
    return "the driver refuses the device: " + StatusText(r.status) + "\n  " + r.reason + "\n";
  }
  std::string out;
  for (const std::string& note : r.notes) out += "note: " + note + "\n";
  out += Format("USB Audio %s function at %s speed\n", r.uac2 ? "2.0" : "1.0",
                r.highSpeed ? "high" : "full");
  out += Format("device %04X:%04X, product ", r.vendorId, r.productId) +
         Text(r.product, "(no string)") + ", manufacturer " +
         Text(r.manufacturer, "(no string)") + ", serial number " +
         Text(r.serialNumber, "(no string)") + "\n";
  out += Format("audio control interface %u\n", r.controlInterface);
  out += "quirks: " + (r.quirks.empty() ? std::string("none") : Join(r.quirks, ", ")) + "\n";
  out += "playback interface " + Interface(r.playbackInterface) + ", capture interface " +
         Interface(r.captureInterface) + "\n";
  out += Format("shared clock: %s; playback paced by capture (implicit feedback): %s\n",
                r.sharedClock ? "yes" : "no", r.implicitFeedback ? "yes" : "no");
  out += "entities:\n";
  for (const EntityReport& e : r.entities) out += Entity(e);
  for (const StreamingReport& s : r.streams) {
    out += Format("streaming interface %u: %s, terminal %u", s.number,
                  s.capture ? "capture" : "playback", s.terminalId);
    if (s.clockRange) out += Format(", clock %u..%u Hz", s.clockRange->first, s.clockRange->second);
    out += "\n";
    if (s.unusedReason) out += "    not used: " + *s.unusedReason + "\n";
    for (const AltSettingReport& a : s.alts) out += Alt(a);
  }
  for (const IgnoredInterfaceReport& i : r.ignoredInterfaces) {
    out += Format("interface %u (%s, subclass 0x%02X) left alone: %s\n", i.number,
                  i.kind.c_str(), i.subclass, i.reason.c_str());
  }
  const char* const directions[2] = {"playback", "capture"};
  for (int d = 0; d < 2; ++d) {
    if (r.maxFormats[d].empty()) continue;
    out += Format("largest %s format by rate:\n", directions[d]);
    for (const MaxFormatReport& m : r.maxFormats[d]) {
      out += Format("  %7u Hz: %s, %u ch, %u-bit containers", m.rate,
                    m.tag == 3 ? "float" : "PCM", m.channels, m.containerBits);
      if (!m.Fits()) {
        out += Format(" - not usable: packets of up to %u bytes, alt %u's endpoint carries %u",
                      m.largestPacket, m.alt, m.endpointCapacity);
      }
      out += "\n";
    }
  }
  return out + Adapter(r.adapter);
}

}  // namespace tarnlink::tool
