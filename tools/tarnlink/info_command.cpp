#include "info_command.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "command_line.h"
#include "option_checks.h"
#include "descriptor_file.h"
#include "descriptor_readout.h"
#include "device_report.h"
#include "report_output.h"
#include "start_options.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::tool {
namespace {

using sim::devices::UsbSpeed;

// Refuses an empty value: an empty name or path is a mistake, not a request for the default.
const CLI::Validator kNotEmpty(
    [](const std::string& value) { return value.empty() ? std::string("is empty") : ""; }, "",
    "not empty");

const CLI::Validator kRegistryValue(
    [](const std::string& text) { return ParseRegistryValue(text, nullptr, nullptr); }, "",
    "registry value");

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
      "formats, what the adapter decides, and what it refuses.");
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
  CLI::Option* registry =
      info->add_option_function<std::vector<std::string>>(
              "--registry",
              [options](const std::vector<std::string>& values) {
                for (const std::string& text : values) {
                  std::pair<std::u16string, uint32_t> preset;
                  ParseRegistryValue(text, &preset.first, &preset.second);
                  options->start.registry.push_back(std::move(preset));
                }
              },
              "A REG_DWORD value in the device's hardware key before the start (repeatable), "
              "e.g. SampleRate=96000 or DSDNativeModeSupported=0")
          ->type_name("NAME=VALUE")
          ->check(kRegistryValue)
          ->allow_extra_args(false)
          ->excludes(list);
  CLI::Option* controller =
      info->add_option_function<std::string>(
              "--controller",
              [options](const std::string& name) {
                options->start.controller = ControllerNamed(name);
              },
              "The host controller the driver finds the device on (default: generic, an Intel "
              "EHCI); AMD OHCI and ATI controllers bring the AMD workaround on a device with "
              "playback and capture")
          ->type_name("amd-ohci|ati|generic")
          ->check(CLI::IsMember({"amd-ohci", "ati", "generic"}).description(""))
          ->excludes(list);
  info->add_option("--dump-descriptors", options->dumpPath,
                   "Write the device's descriptors to FILE in the sysfs `descriptors` format "
                   "(for --descriptors) instead of reporting")
      ->type_name("FILE")
      ->check(kNotEmpty)
      ->excludes(list)
      ->excludes(json)
      ->excludes(registry)
      ->excludes(controller);
  info->footer(
      "exit codes: 0 shown, 2 refused by the driver or bad arguments, 1 the machine stopped\n"
      "examples:\n"
      "  tarnlink info                                   the default catalogue device\n"
      "  tarnlink info --device uac1-headset --json\n"
      "  tarnlink info --descriptors /sys/bus/usb/devices/1-1/descriptors --speed full\n"
      "  tarnlink info --list\n"
      "  tarnlink info --device uac2-implicit --dump-descriptors implicit.bin\n"
      "  tarnlink info --registry SampleRate=96000 --controller amd-ohci\n"
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
  const sim::machine::Binding binding = PackageBinding(*plugged.device);
  const bool ran = StartAdapter(
      std::move(plugged.device), plugged.busSpeed, binding, options.start,
      [&](UsbAudioAdapter* adapter, const StartOutcome& outcome) {
        report = CollectReport(adapter, outcome);
      },
      &failure);
  if (!ran) {
    err << "tarnlink info: the simulated machine stopped\n" << failure << "\n";
    return kExitFailed;
  }
  report.notes = std::move(plugged.notes);
  for (std::string& note : UnreadValueNotes(options.start)) report.notes.push_back(std::move(note));
  const std::string text = options.json ? ReportJson(report) : ReportText(report);
  (report.refused && !options.json ? err : out) << text;
  return report.refused ? kExitRefused : kExitOk;
}

}  // namespace tarnlink::tool
