// The text form of a device report.
#include <cstdio>
#include <string>

#include "report_output.h"

namespace tarnlink::tool {
namespace {

std::string Format(const char* format, auto... args) {
  char line[256];
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

std::string Endpoint(const char* role, const std::optional<EndpointReport>& e) {
  if (!e) return Format("      %s endpoint: none\n", role);
  return Format("      %s endpoint: 0x%02X %s/%s, wMaxPacketSize %u, bInterval %u\n", role,
                e->address, e->sync.c_str(), e->usage.c_str(), e->maxPacket, e->interval);
}

std::string Interface(const std::optional<uint32_t>& number) {
  return number ? std::to_string(*number) : "none";
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
  out += Format("device %04X:%04X, ", r.vendorId, r.productId) +
         (r.product ? "\"" + *r.product + "\"" : std::string("no product string")) + "\n";
  out += Format("audio control interface %u\n", r.controlInterface);
  out += "quirks: " + (r.quirks.empty() ? std::string("none") : Join(r.quirks, ", ")) + "\n";
  out += "playback interface " + Interface(r.playbackInterface) + ", capture interface " +
         Interface(r.captureInterface) + "\n";
  out += Format("shared clock: %s; playback paced by capture (implicit feedback): %s\n",
                r.sharedClock ? "yes" : "no", r.implicitFeedback ? "yes" : "no");
  out += "entities:\n";
  for (const EntityReport& e : r.entities) {
    out += Format("  %-18s %s", e.name.c_str(), e.kind.c_str());
    if (e.terminalType) out += Format(", type 0x%04X", *e.terminalType);
    if (!e.sourceIds.empty()) out += ", from " + Numbers(e.sourceIds);
    if (e.clockId) out += Format(", clock %u", *e.clockId);
    out += "\n";
  }
  for (const StreamingReport& s : r.streams) {
    out += Format("streaming interface %u: %s, terminal %u", s.number,
                  s.capture ? "capture" : "playback", s.terminalId);
    if (s.clockRange) out += Format(", clock %u..%u Hz", s.clockRange->first, s.clockRange->second);
    out += "\n";
    for (const AltSettingReport& a : s.alts) {
      out += Format("    alt %u: %s, %u ch, %u-byte slots, %u bits", a.alt,
                    Join(a.formats, "|").c_str(), a.channels, a.subslotBytes, a.bitResolution);
      if (a.rates) {
        out += a.continuousRates ? Format(", %u..%u Hz", (*a.rates)[0], (*a.rates)[1])
                                 : ", rates " + Numbers(*a.rates);
      }
      out += "\n" + Endpoint("data", a.data) + Endpoint("feedback", a.feedback);
    }
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
  return out;
}

}  // namespace tarnlink::tool
