// The JSON form of a device report. Its keys are documented in the README and kept stable.
#include <cstdio>

#include "report_output.h"

namespace tarnlink::tool {
namespace {

// Appends JSON values with the commas in the right places.
class Json {
 public:
  Json& Open(char bracket) {
    Separate();
    out_ += bracket;
    first_ = true;
    return *this;
  }
  Json& Close(char bracket) {
    out_ += bracket;
    first_ = false;
    return *this;
  }
  Json& Key(const char* key) {
    Separate();
    Quote(key);
    out_ += ':';
    first_ = true;  // the value follows without a comma
    return *this;
  }
  Json& Number(uint64_t v) {
    Separate();
    out_ += std::to_string(v);
    return *this;
  }
  Json& Bool(bool v) {
    Separate();
    out_ += v ? "true" : "false";
    return *this;
  }
  Json& Null() {
    Separate();
    out_ += "null";
    return *this;
  }
  Json& Text(const std::string& s) {
    Separate();
    Quote(s);
    return *this;
  }
  template <typename T>
  Json& Optional(const std::optional<T>& v) {
    return v ? Number(*v) : Null();
  }
  std::string Take() { return std::move(out_); }

 private:
  void Separate() {
    if (!first_) out_ += ',';
    first_ = false;
  }
  void Quote(const std::string& s) {
    out_ += '"';
    for (char c : s) {
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
        out_ += escaped;
      } else {
        out_ += c;
      }
    }
    out_ += '"';
  }

  std::string out_;
  bool first_ = true;
};

void Endpoint(Json& j, const std::optional<EndpointReport>& e) {
  if (!e) {
    j.Null();
    return;
  }
  j.Open('{');
  j.Key("address").Number(e->address);
  j.Key("sync").Text(e->sync);
  j.Key("usage").Text(e->usage);
  j.Key("max_packet").Number(e->maxPacket);
  j.Key("interval").Number(e->interval);
  j.Close('}');
}

void Numbers(Json& j, const std::vector<uint32_t>& values) {
  j.Open('[');
  for (uint32_t v : values) j.Number(v);
  j.Close(']');
}

}  // namespace

std::string ReportJson(const DeviceReport& r) {
  Json j;
  j.Open('{');
  if (r.refused) {
    j.Key("refused").Bool(true);
    j.Key("status").Text(StatusText(r.status));
    j.Key("reason").Text(r.reason);
    j.Close('}');
    return j.Take() + "\n";
  }
  j.Key("uac_version").Text(r.uac2 ? "2.0" : "1.0");
  j.Key("speed").Text(r.highSpeed ? "high" : "full");
  j.Key("vendor_id").Number(r.vendorId);
  j.Key("product_id").Number(r.productId);
  j.Key("product").Text(r.product);
  j.Key("control_interface").Number(r.controlInterface);
  j.Key("quirks").Open('[');
  for (const std::string& q : r.quirks) j.Text(q);
  j.Close(']');
  j.Key("playback_interface").Optional(r.playbackInterface);
  j.Key("capture_interface").Optional(r.captureInterface);
  j.Key("shared_clock").Bool(r.sharedClock);
  j.Key("implicit_feedback").Bool(r.implicitFeedback);
  j.Key("entities").Open('[');
  for (const EntityReport& e : r.entities) {
    j.Open('{');
    j.Key("id").Number(e.id);
    j.Key("name").Text(e.name);
    j.Key("kind").Text(e.kind);
    j.Key("terminal_type").Optional(e.terminalType);
    j.Key("source_ids");
    Numbers(j, e.sourceIds);
    j.Key("clock_id").Optional(e.clockId);
    j.Close('}');
  }
  j.Close(']');
  j.Key("streaming_interfaces").Open('[');
  for (const StreamingReport& s : r.streams) {
    j.Open('{');
    j.Key("number").Number(s.number);
    j.Key("direction").Text(s.capture ? "capture" : "playback");
    j.Key("terminal_id").Number(s.terminalId);
    j.Key("clock_range");
    if (s.clockRange) {
      Numbers(j, {s.clockRange->first, s.clockRange->second});
    } else {
      j.Null();
    }
    j.Key("alt_settings").Open('[');
    for (const AltSettingReport& a : s.alts) {
      j.Open('{');
      j.Key("alt").Number(a.alt);
      j.Key("channels").Number(a.channels);
      j.Key("subslot_bytes").Number(a.subslotBytes);
      j.Key("bit_resolution").Number(a.bitResolution);
      j.Key("format_bits").Open('[');
      for (const std::string& f : a.formats) j.Text(f);
      j.Close(']');
      j.Key("rates");
      if (a.rates) {
        Numbers(j, *a.rates);
      } else {
        j.Null();
      }
      j.Key("continuous_rates").Bool(a.continuousRates);
      j.Key("data_endpoint");
      Endpoint(j, a.data);
      j.Key("feedback_endpoint");
      Endpoint(j, a.feedback);
      j.Close('}');
    }
    j.Close(']');
    j.Close('}');
  }
  j.Close(']');
  j.Key("max_formats").Open('{');
  const char* const directions[2] = {"playback", "capture"};
  for (int d = 0; d < 2; ++d) {
    j.Key(directions[d]).Open('[');
    for (const MaxFormatReport& m : r.maxFormats[d]) {
      j.Open('{');
      j.Key("rate").Number(m.rate);
      j.Key("tag").Number(m.tag);
      j.Key("channels").Number(m.channels);
      j.Key("container_bits").Number(m.containerBits);
      j.Close('}');
    }
    j.Close(']');
  }
  j.Close('}');
  j.Close('}');
  return j.Take() + "\n";
}

}  // namespace tarnlink::tool
