#include "controls_command.h"

#include <CLI/CLI.hpp>
#include <cmath>

#include "adapter_start.h"
#include "command_line.h"
#include "device_report.h"
#include "filter_descriptor.h"
#include "kernel/pnp_host.h"
#include "option_checks.h"
#include "sim/audioengine/ks_client.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/uac_device.h"

namespace tarnlink::tool {
namespace {

namespace ks = sim::audioengine;
using sim::devices::ConnectorState;

constexpr double kKsUnitsPerDb = 65536.0;

// What the driver's own filter description says of the nodes: the feature unit behind each.
std::vector<uint8_t> NodeUnits(UsbAudioAdapter* adapter) {
  std::vector<uint8_t> units;
  PMINIPORTSTREAMCONTROL miniport = adapter->Engine().ReferenceMiniport();
  if (miniport == nullptr) return units;
  PPCFILTER_DESCRIPTOR filter = nullptr;
  if (NT_SUCCESS(miniport->GetDescription(&filter)) && filter != nullptr) {
    for (ULONG k = 0; k < filter->NodeCount; ++k) {
      const CUSBAudioEntity* entity = FilterNode(*filter, k)->Link.Entity;
      units.push_back(entity != nullptr ? static_cast<uint8_t>(entity->Descriptor()[3]) : 0);
    }
  }
  miniport->Release();
  return units;
}

std::vector<std::string> PinCategories(HANDLE filter, size_t pins) {
  std::vector<std::string> names;
  for (ULONG pin = 0; pin < pins; ++pin) {
    GUID category = {};
    names.push_back(NT_SUCCESS(ks::PinValue(filter, KSPROPERTY_PIN_CATEGORY, pin, &category))
                        ? CategoryName(category)
                        : "none");
  }
  return names;
}

// Writes the requested volume to every channel of every volume node and the requested mute to
// every mute node (the master channel's, which is the one a mute controls).
void Apply(const ControlsOptions& options, HANDLE filter, ControlsReport* report) {
  for (const ks::NodeControl& node : report->before.nodes) {
    const std::string where = "node " + std::to_string(node.node);
    if (node.property == KSPROPERTY_AUDIO_VOLUMELEVEL && options.volumeDb) {
      const LONG value = static_cast<LONG>(std::lround(*options.volumeDb * kKsUnitsPerDb));
      for (const ks::ChannelControl& channel : node.channels) {
        report->applied.emplace_back(
            where + " channel " + std::to_string(channel.channel) + " volume",
            ks::SetNodeValue(filter, node.node, node.property, channel.channel, value));
      }
    }
    if (node.property == KSPROPERTY_AUDIO_MUTE && options.mute) {
      report->applied.emplace_back(
          where + " mute", ks::SetNodeValue(filter, node.node, node.property, -1, *options.mute));
    }
  }
}

std::vector<UnitLevels> DeviceHolds(const sim::devices::UacDevice& device,
                                    const std::vector<uint8_t>& nodeUnits) {
  std::vector<UnitLevels> holds;
  for (const auto& entity : device.Spec().entities) {
    const auto* unit = std::get_if<sim::devices::FeatureUnitSpec>(&entity);
    if (unit == nullptr ||
        std::find(nodeUnits.begin(), nodeUnits.end(), unit->bUnitID) == nodeUnits.end())
      continue;
    UnitLevels levels;
    levels.unit = unit->bUnitID;
    for (uint8_t c = 0; c < unit->bmaControls.size(); ++c) {
      levels.volume.push_back(device.Controls().Volume(unit->bUnitID, c));
      levels.mute.push_back(device.Controls().Mute(unit->bUnitID, c));
    }
    holds.push_back(std::move(levels));
  }
  return holds;
}

const std::map<std::string, ConnectorState> kJackStates = {
    {"connected", ConnectorState::Connected},
    {"unplugged", ConnectorState::Unplugged},
    {"unreadable", ConnectorState::Unreadable}};

}  // namespace

CLI::App* AddControlsCommand(CLI::App& program, ControlsOptions* options) {
  CLI::App* controls = program.add_subcommand(
      "controls",
      "The wave filter's controls as the Windows volume control opens them: every volume and "
      "mute node with its channels' ranges, steps and values, the jacks and whether something is "
      "plugged in, the component id and the signal-processing modes; applies a requested change "
      "and shows what the device now holds.");
  options->device.catalogueName = std::string(sim::devices::kDefaultDeviceName);
  controls->add_option("--device", options->device.catalogueName, "A catalogue device")
      ->type_name("NAME")
      ->check(kCatalogueName)
      ->capture_default_str();
  controls->add_option_function<double>(
          "--volume", [options](double db) { options->volumeDb = db; },
          "Set every channel of every volume node to DB decibels (the driver rounds to the "
          "device's step and clamps into its range)")
      ->type_name("DB")
      ->check(CLI::Range(-32768.0, 32767.0).description(""));
  controls->add_option_function<std::string>(
          "--mute", [options](const std::string& on) { options->mute = on == "on"; },
          "Mute or unmute every mute node")
      ->type_name("on|off")
      ->check(CLI::IsMember({"on", "off"}).description(""));
  controls->add_option_function<std::string>(
          "--jack",
          [options](const std::string& state) { options->jacks = kJackStates.at(state); },
          "What every terminal's connector reports before the filter is opened (a connector "
          "that cannot be read counts as connected, without presence detection)")
      ->type_name("connected|unplugged|unreadable")
      ->check(CLI::IsMember({"connected", "unplugged", "unreadable"}).description(""));
  controls->add_flag("--json", options->json, "One JSON object instead of text (keys: see README)");
  controls->footer(
      "exit codes: 0 shown (and applied), 2 refused by the driver or bad arguments, 1 the "
      "machine stopped\n"
      "examples:\n"
      "  tarnlink controls\n"
      "  tarnlink controls --device uac2-playback-only --volume -10.3 --mute on\n"
      "  tarnlink controls --jack unplugged --json");
  return controls;
}

int RunControls(const ControlsOptions& options, std::ostream& out, std::ostream& err) {
  PluggedDevice plugged;
  std::string error;
  if (!OpenDevice(options.device, &plugged, &error)) {
    err << "tarnlink controls: " << error << "\n";
    return kExitRefused;
  }
  auto* device = dynamic_cast<sim::devices::UacDevice*>(plugged.device.get());
  if (device != nullptr && options.jacks) {
    for (const auto& entity : device->Spec().entities) {
      std::visit(
          [&](const auto& e) {
            if constexpr (requires { e.bTerminalID; })
              device->Controls().SetConnector(e.bTerminalID, *options.jacks);
          },
          entity);
    }
  }
  ControlsReport report;
  report.device = options.device.catalogueName;
  std::string refusal;
  std::string failure;
  const sim::machine::Binding binding = PackageBinding(*plugged.device);
  const bool ran = StartAdapter(
      std::move(plugged.device), plugged.busSpeed, binding, {},
      [&](UsbAudioAdapter* adapter, const StartOutcome& outcome) {
        if (adapter == nullptr) {
          refusal = RefusalReason(outcome);
          return;
        }
        const auto interfaces = io::EnumerateDeviceInterfaces(KSCATEGORY_AUDIO, true);
        HANDLE filter = nullptr;
        if (interfaces.empty() ||
            !NT_SUCCESS(ks::OpenFilter(interfaces[0].symbolicLink, &filter))) {
          refusal = "the device has no wave filter";
          return;
        }
        ks::ReadEndpointControls(filter, &report.before);
        report.pinCategories = PinCategories(filter, report.before.modes.size());
        report.nodeUnits = NodeUnits(adapter);
        if (options.volumeDb || options.mute) {
          Apply(options, filter, &report);
          report.after.emplace();
          ks::ReadEndpointControls(filter, &*report.after);
        }
        ZwClose(filter);
        if (device != nullptr) report.deviceHolds = DeviceHolds(*device, report.nodeUnits);
      },
      &failure);
  if (!ran) {
    err << "tarnlink controls: the simulated machine stopped\n" << failure << "\n";
    return kExitFailed;
  }
  if (!refusal.empty()) {
    err << "tarnlink controls: " << refusal << "\n";
    return kExitRefused;
  }
  out << (options.json ? ControlsJson(report) : ControlsText(report));
  for (const auto& [what, status] : report.applied) {
    if (NT_SUCCESS(status)) continue;
    err << "tarnlink controls: the driver refused " << what << " (" << StatusText(status) << ")\n";
    return kExitRefused;
  }
  return kExitOk;
}

}  // namespace tarnlink::tool
