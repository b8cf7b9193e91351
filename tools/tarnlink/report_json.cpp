// The JSON form of a device report. Its keys are documented in the README and kept stable.
#include <nlohmann/json.hpp>

#include "report_output.h"

namespace tarnlink::tool {
namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json Optional(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json Endpoint(const std::optional<EndpointReport>& e) {
  if (!e) return nullptr;
  return {{"address", e->address},
          {"sync", e->sync},
          {"usage", e->usage},
          {"max_packet", e->maxPacket},
          {"interval", e->interval},
          {"interval_us", e->intervalUs},
          {"transactions", e->transactions},
          {"capacity", e->capacity},
          {"feedback_format", Optional(e->feedbackFormat)},
          {"feedback_period_us", Optional(e->feedbackPeriodUs)}};
}

Json Spans(const std::vector<RateSpan>& spans) {
  Json out = Json::array();
  for (const RateSpan& s : spans) {
    out.push_back({{"min", s.minimum}, {"max", s.maximum}, {"res", s.resolution}});
  }
  return out;
}

Json IgnoredEndpoints(const std::vector<IgnoredEndpointReport>& endpoints) {
  Json out = Json::array();
  for (const IgnoredEndpointReport& e : endpoints) {
    out.push_back({{"address", e.address}, {"usage", e.usage}, {"reason", e.reason}});
  }
  return out;
}

Json FeatureChannels(const std::vector<FeatureChannelReport>& channels) {
  Json out = Json::array();
  for (const FeatureChannelReport& c : channels) {
    Json volume = nullptr;
    if (c.volume) {
      volume = {{"min", c.volume->minimum},
                {"max", c.volume->maximum},
                {"res", c.volume->resolution}};
    }
    out.push_back({{"channel", c.channel}, {"controls", c.controls}, {"volume_db", volume}});
  }
  return out;
}

Json AltSetting(const AltSettingReport& a) {
  return {{"alt", a.alt},
          {"channels", a.channels},
          {"subslot_bytes", a.subslotBytes},
          {"bit_resolution", a.bitResolution},
          {"format_bits", a.formats},
          {"rates", Optional(a.rates)},
          {"continuous_rates", a.continuousRates},
          {"rate_spans", Spans(a.rateSpans)},
          {"channel_config", a.channelConfig},
          {"data_endpoint", Endpoint(a.data)},
          {"feedback_endpoint", Endpoint(a.feedback)},
          {"ignored_endpoints", IgnoredEndpoints(a.ignoredEndpoints)},
          {"skipped", Optional(a.skipped)}};
}

Json Streaming(const StreamingReport& s) {
  Json alts = Json::array();
  for (const AltSettingReport& a : s.alts) alts.push_back(AltSetting(a));
  Json clockRange = nullptr;
  if (s.clockRange) clockRange = {s.clockRange->first, s.clockRange->second};
  return {{"number", s.number},
          {"direction", s.capture ? "capture" : "playback"},
          {"terminal_id", s.terminalId},
          {"clock_range", clockRange},
          {"used", s.used},
          {"unused_reason", Optional(s.unusedReason)},
          {"alt_settings", alts}};
}

Json Entity(const EntityReport& e) {
  Json clockRates = nullptr;
  if (e.clockRates) {
    clockRates = {{"rates", e.clockRates->rates}, {"spans", Spans(e.clockRates->spans)}};
  }
  return {{"id", e.id},
          {"name", e.name},
          {"kind", e.kind},
          {"terminal_type", Optional(e.terminalType)},
          {"source_ids", e.sourceIds},
          {"clock_id", Optional(e.clockId)},
          {"terminal_type_name", Optional(e.terminalTypeName)},
          {"channels", Optional(e.channels)},
          {"channel_config", e.channelConfig},
          {"clock_kind", Optional(e.clockKind)},
          {"clock_rates", clockRates},
          {"feature_controls", FeatureChannels(e.featureChannels)}};
}

Json MaxFormats(const std::vector<MaxFormatReport>& formats) {
  Json out = Json::array();
  for (const MaxFormatReport& m : formats) {
    out.push_back({{"rate", m.rate},
                   {"tag", m.tag},
                   {"channels", m.channels},
                   {"container_bits", m.containerBits},
                   {"fits_endpoint", m.Fits()},
                   {"largest_packet", m.largestPacket},
                   {"endpoint_capacity", m.endpointCapacity}});
  }
  return out;
}

Json Adapter(const AdapterReport& a) {
  return {{"fixed_rate", a.fixedRate},
          {"native_dsd", a.nativeDsd},
          {"native_dsd_source", a.nativeDsdFromRegistry ? "registry" : "probe"},
          {"playback_only", a.playbackOnly},
          {"amd_workaround", a.amdWorkaround},
          {"playback_transfer_ms", a.playbackTransferMs},
          {"capture_transfer_ms", a.captureTransferMs},
          {"playback_transfers_in_flight", a.playbackTransfersInFlight},
          {"reference_string", Optional(a.referenceString)}};
}

}  // namespace

std::string ReportJson(const DeviceReport& r) {
  if (r.refused) {
    return Json{{"refused", true}, {"status", StatusText(r.status)}, {"reason", r.reason}}.dump() +
           "\n";
  }
  Json entities = Json::array();
  for (const EntityReport& e : r.entities) entities.push_back(Entity(e));
  Json streams = Json::array();
  for (const StreamingReport& s : r.streams) streams.push_back(Streaming(s));
  Json ignored = Json::array();
  for (const IgnoredInterfaceReport& i : r.ignoredInterfaces) {
    ignored.push_back(
        {{"number", i.number}, {"class", i.kind}, {"subclass", i.subclass}, {"reason", i.reason}});
  }
  const Json report = {
      {"uac_version", r.uac2 ? "2.0" : "1.0"},
      {"speed", r.highSpeed ? "high" : "full"},
      {"vendor_id", r.vendorId},
      {"product_id", r.productId},
      {"manufacturer", Optional(r.manufacturer)},
      {"product", Optional(r.product)},
      {"serial_number", Optional(r.serialNumber)},
      {"control_interface", r.controlInterface},
      {"quirks", r.quirks},
      {"playback_interface", Optional(r.playbackInterface)},
      {"capture_interface", Optional(r.captureInterface)},
      {"shared_clock", r.sharedClock},
      {"implicit_feedback", r.implicitFeedback},
      {"entities", entities},
      {"streaming_interfaces", streams},
      {"ignored_interfaces", ignored},
      {"max_formats", {{"playback", MaxFormats(r.maxFormats[0])},
                       {"capture", MaxFormats(r.maxFormats[1])}}},
      {"adapter", Adapter(r.adapter)},
      {"notes", r.notes}};
  // Text the device supplies (its strings) may hold anything: replace what is not UTF-8.
  return report.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tarnlink::tool
