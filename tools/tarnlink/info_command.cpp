#include "info_command.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "command_line.h"
#include "descriptor_file.h"
#include "descriptor_readout.h"
#include "device_report.h"
#include "report_output.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::tool {
namespace {

using sim::devices::UsbSpeed;

// Refuses an empty value: an empty name or path is a mistake, not a request for the default.
const CLI::Validator kNotEmpty(
    [](const std::string& value) { return value.empty() ? std::string("is empty") : ""; }, "",
    "not empty");

const CLI::Validator kCatalogueName(
    [](const std::string& name) {
      return sim::devices::FindCatalogueEntry(name) != nullptr
                 ? std::string()
                 : "no catalogue device '" + name + "' (`tarnlink info --list` names them)";
    },
    "", "catalogue name");

void ListCatalogue(bool json, std::ostream& out) {
  if (json) {
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (const sim::devices::CatalogueEntry& e : sim::devices::Catalogue()) {
      devices.push_back({{"name", e.name}, {"exercises", e.exercises}});
    }
    out << nlohmann::ordered_json{{"devices", devices}}.dump() << "\n";
    return;
  }
  for (const sim::devices::CatalogueEntry& e : sim::devices::Catalogue()) {
    out << e.name << std::string(e.name.size() < 22 ? 23 - e.name.size() : 1, ' ') << e.exercises
        << "\n";
  }
}

int DumpDescriptors(PluggedDevice& plugged, const std::string& path, std::ostream& out,
                    std::ostream& err) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadDescriptors(*plugged.device, plugged.busSpeed, &bytes, &error) ||
      !WriteDescriptorFile(path, bytes, &error)) {
    err << "tarnlink info: " << error << "\n";
    return kExitRefused;
  }
  out << "wrote " << bytes.size() << " bytes of descriptors to " << path << "\n";
  return kExitOk;
}

}  // namespace

CLI::App* AddInfoCommand(CLI::App& program, InfoOptions* options) {
  CLI::App* info = program.add_subcommand(
      "info",
      "How the driver models and starts a device: class version, entities, streaming interfaces, "
      "formats, and what it refuses.");
  options->device.catalogueName = std::string(sim::devices::kDefaultDeviceName);
  CLI::Option* device =
      info->add_option("--device", options->device.catalogueName,
                       "A catalogue device (see --list)")
          ->type_name("NAME")
          ->check(kNotEmpty)
          ->check(kCatalogueName)
          ->capture_default_str();
  CLI::Option* descriptors =
      info->add_option("--descriptors", options->device.descriptorsPath,
                       "A Linux sysfs `descriptors` file: the device descriptor, then the "
                       "configuration. The bus runs at high speed for bcdUSB 0x0200 and above")
          ->type_name("FILE")
          ->check(kNotEmpty);
  CLI::Option* library =
      info->add_option("--device-library", options->device.libraryPath,
                       "A shared library exporting the C device interface "
                       "(sim/devices/device_abi.h): a device maker's own device")
          ->type_name("FILE.so")
          ->check(kNotEmpty);
  CLI::Option* list = info->add_flag("--list", options->list, "List the catalogue devices");
  device->excludes(descriptors)->excludes(library);
  descriptors->excludes(library);
  list->excludes(device)->excludes(descriptors)->excludes(library);
  info->add_option_function<std::string>(
          "--speed",
          [options](const std::string& speed) {
            options->device.speed = speed == "full" ? UsbSpeed::Full : UsbSpeed::High;
          },
          "The bus speed (default: the fastest the device offers)")
      ->type_name("full|high")
      ->check(CLI::IsMember({"full", "high"}).description(""))
      ->excludes(list);
  CLI::Option* json =
      info->add_flag("--json", options->json, "One JSON object instead of text (keys: see README)");
  info->add_option("--dump-descriptors", options->dumpPath,
                   "Write the device's descriptors to FILE in the sysfs `descriptors` format "
                   "(for --descriptors) instead of reporting")
      ->type_name("FILE")
      ->check(kNotEmpty)
      ->excludes(list)
      ->excludes(json);
  info->footer(
      "exit codes: 0 shown, 2 refused by the driver or bad arguments, 1 the machine stopped\n"
      "examples:\n"
      "  tarnlink info                                   the default catalogue device\n"
      "  tarnlink info --device uac1-headset --json\n"
      "  tarnlink info --descriptors /sys/bus/usb/devices/1-1/descriptors --speed full\n"
      "  tarnlink info --list\n"
      "  tarnlink info --device uac2-implicit --dump-descriptors implicit.bin\n"
      "  tarnlink info --device-library build/default/sim/devices/velmor_dac_device.so");
  return info;
}

int RunInfo(const InfoOptions& options, std::ostream& out, std::ostream& err) {
  if (options.list) {
    ListCatalogue(options.json, out);
    return kExitOk;
  }
  PluggedDevice plugged;
  std::string error;
  if (!OpenDevice(options.device, &plugged, &error)) {
    err << "tarnlink info: " << error << "\n";
    return kExitRefused;
  }

  if (!options.dumpPath.empty()) return DumpDescriptors(plugged, options.dumpPath, out, err);

  DeviceReport report;
  std::string failure;
  const bool ran = ProbeDevice(
      std::move(plugged.device), plugged.busSpeed,
      [&](CUSBAudioCL& model, const ProbeStatus& status) { report = CollectReport(model, status); },
      &failure);
  if (!ran) {
    err << "tarnlink info: the simulated machine stopped\n" << failure << "\n";
    return kExitFailed;
  }
  report.notes = std::move(plugged.notes);
  const std::string text = options.json ? ReportJson(report) : ReportText(report);
  (report.refused && !options.json ? err : out) << text;
  return report.refused ? kExitRefused : kExitOk;
}

}  // namespace tarnlink::tool
