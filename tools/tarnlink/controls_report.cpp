// The two forms of the controls report: lines for a person, one JSON object for a program.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "controls_command.h"
#include "device_report.h"

namespace tarnlink::tool {
namespace {

namespace ks = sim::audioengine;
using Json = nlohmann::ordered_json;

constexpr LONG kKsSilence = static_cast<LONG>(0x80000000);
constexpr int16_t kDeviceSilence = static_cast<int16_t>(0x8000);

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::string ModeName(const GUID& mode) {
  return mode == AUDIO_SIGNALPROCESSINGMODE_RAW ? "RAW" : GuidText(mode);
}

double KsDb(LONG value) { return value / 65536.0; }

std::string Db(double db) {
  char text[24];
  std::snprintf(text, sizeof(text), "%.2f dB", db);
  return text;
}

std::string KsLevel(LONG value) { return value == kKsSilence ? "silence" : Db(KsDb(value)); }

Json KsLevelJson(LONG value) { return value == kKsSilence ? Json() : Json(KsDb(value)); }

std::string DeviceLevel(int16_t value) {
  return value == kDeviceSilence ? "silence" : Db(value / 256.0);
}

bool IsVolume(const ks::NodeControl& node) {
  return node.property == KSPROPERTY_AUDIO_VOLUMELEVEL;
}

uint8_t UnitOf(const ControlsReport& report, ULONG node) {
  return node < report.nodeUnits.size() ? report.nodeUnits[node] : 0;
}

std::string Category(const ControlsReport& report, ULONG pin) {
  return pin < report.pinCategories.size() ? report.pinCategories[pin] : "none";
}

void NodesText(const ControlsReport& report, const ks::EndpointControls& controls,
               std::ostream& out) {
  for (const ks::NodeControl& node : controls.nodes) {
    out << "  node " << node.node << " " << (IsVolume(node) ? "VOLUME" : "MUTE") << " (unit "
        << int(UnitOf(report, node.node)) << ")";
    if (!NT_SUCCESS(node.status)) {
      out << ": " << StatusText(node.status) << "\n";
      continue;
    }
    out << "\n";
    for (const ks::ChannelControl& c : node.channels) {
      out << "    channel " << c.channel << ": ";
      if (IsVolume(node)) {
        out << Db(KsDb(c.range.Bounds.SignedMinimum)) << " to "
            << Db(KsDb(c.range.Bounds.SignedMaximum)) << " in steps of "
            << Db(c.range.SteppingDelta / 65536.0) << ", now ";
        out << (NT_SUCCESS(c.status) ? KsLevel(c.value) : StatusText(c.status)) << "\n";
      } else {
        out << (NT_SUCCESS(c.status) ? (c.value != 0 ? "muted" : "not muted")
                                     : StatusText(c.status))
            << "\n";
      }
    }
  }
}

Json NodesJson(const ControlsReport& report, const ks::EndpointControls& controls) {
  Json nodes = Json::array();
  for (const ks::NodeControl& node : controls.nodes) {
    Json channels = Json::array();
    for (const ks::ChannelControl& c : node.channels) {
      Json channel = {{"channel", c.channel}, {"status", StatusText(c.status)}};
      if (IsVolume(node)) {
        channel["min_db"] = KsDb(c.range.Bounds.SignedMinimum);
        channel["max_db"] = KsDb(c.range.Bounds.SignedMaximum);
        channel["step_db"] = c.range.SteppingDelta / 65536.0;
        channel["db"] = NT_SUCCESS(c.status) ? KsLevelJson(c.value) : Json();
      } else {
        channel["muted"] = NT_SUCCESS(c.status) ? Json(c.value != 0) : Json();
      }
      channels.push_back(channel);
    }
    nodes.push_back({{"node", node.node},
                     {"kind", IsVolume(node) ? "volume" : "mute"},
                     {"unit", UnitOf(report, node.node)},
                     {"status", StatusText(node.status)},
                     {"channels", channels}});
  }
  return nodes;
}

}  // namespace

std::string ControlsText(const ControlsReport& report) {
  std::ostringstream out;
  const ks::EndpointControls& c = report.before;
  out << "device: " << report.device << "\n";
  out << "component id: ";
  if (NT_SUCCESS(c.componentStatus)) {
    out << "manufacturer {" << GuidText(c.component.Manufacturer) << "}, product {"
        << GuidText(c.component.Product) << "}, name {" << GuidText(c.component.Name)
        << "}, version " << c.component.Version << "." << c.component.Revision << "\n";
  } else {
    out << StatusText(c.componentStatus) << "\n";
  }
  out << "signal-processing modes:\n";
  for (const ks::PinModes& pin : c.modes) {
    out << "  pin " << pin.pin << " (" << Category(report, pin.pin) << "): ";
    if (!NT_SUCCESS(pin.status)) {
      out << StatusText(pin.status) << "\n";
      continue;
    }
    if (pin.modes.empty()) out << "none";
    for (size_t k = 0; k < pin.modes.size(); ++k) out << (k ? ", " : "") << ModeName(pin.modes[k]);
    out << "\n";
  }
  out << "jacks:\n";
  for (const ks::JackControl& jack : c.jacks) {
    out << "  pin " << jack.pin << " (" << Category(report, jack.pin) << "): ";
    if (!NT_SUCCESS(jack.status)) {
      out << StatusText(jack.status) << "\n";
      continue;
    }
    out << (jack.description.IsConnected ? "connected" : "unplugged");
    if (NT_SUCCESS(jack.status2)) {
      out << ((jack.description2.JackCapabilities & JACKDESC2_PRESENCE_DETECT_CAPABILITY) != 0
                  ? ", detects a plug"
                  : ", cannot detect a plug");
    }
    out << "\n";
  }
  out << "volume and mute:\n";
  if (c.nodes.empty()) out << "  none\n";
  NodesText(report, c, out);
  if (report.after) {
    out << "applied:\n";
    for (const auto& [what, status] : report.applied)
      out << "  " << what << ": " << StatusText(status) << "\n";
    out << "volume and mute now:\n";
    NodesText(report, *report.after, out);
  }
  for (const UnitLevels& unit : report.deviceHolds) {
    out << "the device's unit " << int(unit.unit) << " holds:";
    for (size_t k = 0; k < unit.volume.size(); ++k) {
      out << (k ? "," : "") << " channel " << k << " " << DeviceLevel(unit.volume[k])
          << (unit.mute[k] ? " muted" : "");
    }
    out << "\n";
  }
  return out.str();
}

std::string ControlsJson(const ControlsReport& report) {
  const ks::EndpointControls& c = report.before;
  Json component = {{"status", StatusText(c.componentStatus)}};
  if (NT_SUCCESS(c.componentStatus)) {
    component["manufacturer"] = GuidText(c.component.Manufacturer);
    component["product"] = GuidText(c.component.Product);
    component["component"] = GuidText(c.component.Component);
    component["name"] = GuidText(c.component.Name);
    component["version"] = c.component.Version;
    component["revision"] = c.component.Revision;
  }
  Json modes = Json::array();
  for (const ks::PinModes& pin : c.modes) {
    Json names = Json::array();
    for (const GUID& mode : pin.modes) names.push_back(ModeName(mode));
    modes.push_back({{"pin", pin.pin}, {"status", StatusText(pin.status)}, {"modes", names}});
  }
  Json jacks = Json::array();
  for (const ks::JackControl& jack : c.jacks) {
    const bool read = NT_SUCCESS(jack.status);
    const bool read2 = NT_SUCCESS(jack.status2);
    jacks.push_back(
        {{"pin", jack.pin},
         {"category", Category(report, jack.pin)},
         {"status", StatusText(jack.status)},
         {"connected", read ? Json(jack.description.IsConnected != 0) : Json()},
         {"presence_detection",
          read2 ? Json((jack.description2.JackCapabilities &
                        JACKDESC2_PRESENCE_DETECT_CAPABILITY) != 0)
                : Json()}});
  }
  Json applied = Json::array();
  for (const auto& [what, status] : report.applied)
    applied.push_back({{"what", what}, {"status", StatusText(status)}});
  Json holds = Json::array();
  for (const UnitLevels& unit : report.deviceHolds) {
    Json channels = Json::array();
    for (size_t k = 0; k < unit.volume.size(); ++k) {
      channels.push_back({{"channel", k},
                          {"db", unit.volume[k] == kDeviceSilence ? Json()
                                                                  : Json(unit.volume[k] / 256.0)},
                          {"muted", bool(unit.mute[k])}});
    }
    holds.push_back({{"unit", unit.unit}, {"channels", channels}});
  }
  const Json json = {{"device", report.device},
                     {"component_id", component},
                     {"modes", modes},
                     {"jacks", jacks},
                     {"nodes", NodesJson(report, c)},
                     {"applied", applied},
                     {"nodes_after", report.after ? NodesJson(report, *report.after) : Json()},
                     {"device_holds", holds}};
  return json.dump() + "\n";
}

}  // namespace tarnlink::tool
