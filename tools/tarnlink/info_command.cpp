#include "info_command.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "device_report.h"
#include "report_output.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_parser.h"

namespace tarnlink::tool {
namespace {

using sim::devices::UsbSpeed;

struct InfoOptions {
  std::string device = std::string(sim::devices::kDefaultDeviceName);
  std::string descriptors;
  bool listDevices = false;
  bool json = false;
  std::optional<UsbSpeed> speed;
};

int Usage(const char* problem) {
  std::fprintf(stderr,
               "tarnlink info: %s\n"
               "usage: tarnlink info [--device NAME | --descriptors FILE] [--speed full|high] "
               "[--json]\n",
               problem);
  return 2;
}

bool IsOption(const char* arg) {
  return std::strncmp(arg, "--", 2) == 0;
}

std::optional<int> ParseOptions(int argc, char** argv, InfoOptions* options) {
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
    } else if (std::strcmp(arg, "--device") == 0) {
      if (i + 1 >= argc || IsOption(argv[i + 1])) {
        options->listDevices = true;
      } else {
        options->device = argv[++i];
      }
    } else if (std::strcmp(arg, "--descriptors") == 0) {
      if (i + 1 >= argc) return Usage("--descriptors needs a file");
      options->descriptors = argv[++i];
    } else if (std::strcmp(arg, "--speed") == 0) {
      const char* value = i + 1 < argc ? argv[++i] : "";
      if (std::strcmp(value, "full") == 0) {
        options->speed = UsbSpeed::Full;
      } else if (std::strcmp(value, "high") == 0) {
        options->speed = UsbSpeed::High;
      } else {
        return Usage("--speed is full or high");
      }
    } else {
      return Usage((std::string("unknown argument ") + arg).c_str());
    }
  }
  return std::nullopt;
}

void ListCatalogue() {
  for (const sim::devices::CatalogueEntry& e : sim::devices::Catalogue()) {
    std::printf("%-22s %s\n", e.name.c_str(), e.exercises.c_str());
  }
}

// The speed a dump runs at unless asked otherwise: high for a USB 2.0 device.
UsbSpeed DefaultSpeed(const std::vector<uint8_t>& device) {
  const unsigned bcdUSB = device.size() >= 4 ? device[2] | (device[3] << 8) : 0;
  return bcdUSB >= 0x0200 ? UsbSpeed::High : UsbSpeed::Full;
}

// A device answering with the dump's own bytes, whether or not the simulator understands them:
// what counts is what the driver makes of them.
std::unique_ptr<sim::devices::UsbDevice> DeviceFromDump(const std::vector<uint8_t>& bytes,
                                                        UsbSpeed speed, std::string* problem) {
  sim::devices::DumpDefaults defaults;
  defaults.speed = speed;
  const sim::devices::ParsedDump dump = sim::devices::ParseDescriptorDump(bytes, defaults);
  if (dump.Ok()) return sim::devices::UacDevice::FromDump(dump, {});
  if (bytes.size() < 18 + 9 || bytes[0] != 18 || bytes[1] != 1) {
    *problem =
        "not a descriptors file (a device descriptor followed by a configuration): " + dump.error;
    return nullptr;
  }
  sim::devices::AudioFunctionSpec spec;
  spec.speed = speed;
  sim::devices::DescriptorImage image;
  image.device.assign(bytes.begin(), bytes.begin() + 18);
  image.configuration.assign(bytes.begin() + 18, bytes.end());
  return std::make_unique<sim::devices::UacDevice>(spec, image, sim::devices::DeviceBehaviour{});
}

}  // namespace

int RunInfo(int argc, char** argv) {
  InfoOptions options;
  if (std::optional<int> exit = ParseOptions(argc, argv, &options)) return *exit;
  if (options.listDevices) {
    ListCatalogue();
    return 0;
  }

  std::unique_ptr<sim::devices::UsbDevice> device;
  UsbSpeed speed = UsbSpeed::High;
  if (!options.descriptors.empty()) {
    std::ifstream in(options.descriptors, std::ios::binary);
    if (!in) return Usage(("cannot read " + options.descriptors).c_str());
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    speed = options.speed.value_or(DefaultSpeed(bytes));
    std::string problem;
    device = DeviceFromDump(bytes, speed, &problem);
    if (device == nullptr) return Usage(problem.c_str());
  } else {
    const sim::devices::CatalogueEntry* entry = sim::devices::FindCatalogueEntry(options.device);
    if (entry == nullptr) {
      std::fprintf(stderr, "tarnlink info: no device '%s'; these are known:\n",
                   options.device.c_str());
      ListCatalogue();
      return 2;
    }
    speed = options.speed.value_or(entry->spec.bcdUSB >= 0x0200 ? UsbSpeed::High : UsbSpeed::Full);
    device = sim::devices::MakeCatalogueDevice(options.device);
  }

  DeviceReport report;
  std::string failure;
  const bool ran = ProbeDevice(
      std::move(device), speed,
      [&](CUSBAudioCL& model, const ProbeStatus& status) { report = CollectReport(model, status); },
      &failure);
  if (!ran) {
    std::fprintf(stderr, "tarnlink info: the simulated machine stopped\n%s\n", failure.c_str());
    return 1;
  }
  const std::string text = options.json ? ReportJson(report) : ReportText(report);
  std::fputs(text.c_str(), report.refused && !options.json ? stderr : stdout);
  return report.refused ? 2 : 0;
}

}  // namespace tarnlink::tool
