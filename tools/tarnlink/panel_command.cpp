#include "panel_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "command_line.h"
#include "driver_entry.h"
#include "kernel/host_kernel.h"
#include "kernel/ps_process.h"
#include "option_checks.h"
#include "resource.h"
#include "settings/reg_util.h"
#include "sim/asiohost/asio_host.h"
#include "sim/asiohost/driver_package.h"
#include "sim/machine/machine.h"
#include "sim/panel/control_panel_program.h"
#include "sim/panel/panel_user.h"

namespace tarnlink::tool {
namespace {

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

struct Action {
  enum Kind { Device, Rate, Buffer, Key, Minimise } kind;
  long value = 0;
  bool shift = false;  // Key: with Shift held
};

bool ParseAction(const std::string& text, Action* action, std::string* error) {
  const size_t equals = text.find('=');
  const std::string name = text.substr(0, equals);
  const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
  if (name == "minimise" || name == "minimize") {
    *action = {Action::Minimise};
    return true;
  }
  if (name == "key") {
    static const struct {
      const char* name;
      WORD code;
      bool shift;
    } kKeys[] = {{"left", VK_LEFT, false}, {"right", VK_RIGHT, false},  {"up", VK_UP, false},
                 {"down", VK_DOWN, false}, {"home", VK_HOME, false},    {"end", VK_END, false},
                 {"pageup", VK_PRIOR, false}, {"pagedown", VK_NEXT, false},
                 {"tab", VK_TAB, false},   {"shift+tab", VK_TAB, true}};
    for (const auto& key : kKeys)
      if (value == key.name) {
        *action = {Action::Key, key.code, key.shift};
        return true;
      }
    *error = "unknown key '" + value +
             "' (left, right, up, down, home, end, pageup, pagedown, tab, shift+tab)";
    return false;
  }
  const Action::Kind kind = name == "device" ? Action::Device
                            : name == "rate" ? Action::Rate
                            : name == "buffer" ? Action::Buffer
                                               : Action::Minimise;
  if (kind == Action::Minimise || value.empty() ||
      value.find_first_not_of("0123456789") != std::string::npos || value.size() > 9) {
    *error = "'" + text + "' is no action: device=N, rate=HZ, buffer=N, key=NAME or minimise";
    return false;
  }
  *action = {kind, std::stol(value)};
  return true;
}

// Performs one action as the user; false with *error when the panel does not offer it.
bool Perform(sim::panel::PanelUser& user, const Action& action, std::string* error) {
  switch (action.kind) {
    case Action::Device:
      if (action.value >= static_cast<long>(user.ListItems().size())) {
        *error = "the list has no device " + std::to_string(action.value);
        return false;
      }
      user.ClickListItem(static_cast<int>(action.value));
      return true;
    case Action::Rate: {
      const std::vector<std::u16string> items = user.ComboItems();
      const std::string wanted = std::to_string(action.value) + " Hz";
      for (size_t i = 0; i < items.size(); ++i)
        if (Narrow(items[i]) == wanted) {
          if (!user.Enabled(IDC_RATE_COMBO)) {
            *error = "the sample rate cannot be chosen for this device now";
            return false;
          }
          user.ChooseComboItem(static_cast<int>(i));
          return true;
        }
      *error = "the device offers no " + wanted;
      return false;
    }
    case Action::Buffer:
      if (action.value > 127 || !user.Enabled(IDC_BUFFER_SLIDER)) {
        *error = action.value > 127 ? "buffer sizes go from index 0 to 127"
                                    : "the buffer size cannot be chosen for this device";
        return false;
      }
      user.DragSliderTo(action.value);
      return true;
    case Action::Key:
      user.Key(static_cast<WORD>(action.value), action.shift);
      return true;
    case Action::Minimise:
      user.Minimise();
      return true;
  }
  return false;
}

void Report(const sim::panel::PanelUser& user, std::ostream& out) {
  const std::vector<std::u16string> devices = user.ListItems();
  out << "devices:";
  if (devices.empty()) out << " none";
  for (size_t i = 0; i < devices.size(); ++i)
    out << (i == 0 ? " " : ", ") << Narrow(devices[i])
        << (static_cast<int>(i) == user.ListSelection() ? " (selected)" : "");
  out << "\n";
  out << "setting: " << Narrow(user.Text(IDC_SETTING_GROUP)) << "\n";
  const int focused = user.FocusedItem();
  out << "focus: "
      << (focused == IDC_DEVICE_LIST     ? "device list"
          : focused == IDC_BUFFER_SLIDER ? "buffer size"
          : focused == IDC_RATE_COMBO    ? "sampling rate"
                                         : "none")
      << "\n";
  out << "buffer size: " << Narrow(user.Text(IDC_BUFFER_SIZE)) << " (trackbar at "
      << user.SliderPosition() << (user.Enabled(IDC_BUFFER_SLIDER) ? "" : ", disabled") << ")\n";
  const std::vector<std::u16string> rates = user.ComboItems();
  out << "sampling rate: "
      << (rates.empty() ? std::string("----") : Narrow(user.ComboSelection()));
  if (!rates.empty())
    out << " (of " << Narrow(rates.front()) << " .. " << Narrow(rates.back()) << ", "
        << rates.size() << " items" << (user.Enabled(IDC_RATE_COMBO) ? "" : ", disabled") << ")";
  out << "\n";
  CmnRegUtil settings;
  WCHAR selected[kSelectedCodeUnits + 1];
  settings.ReadSelected(selected);
  out << "settings: selected=\"" << Narrow(selected)
      << "\" sampling_rate=" << settings.ReadNumber(kSettingSamplingRate)
      << " buffer_size_index=" << settings.ReadNumber(kSettingBufferSizeIndex) << "\n";
}

// A host whose user opens the driver's settings as soon as the driver is initialised, and
// quits once the panel is closed.
std::unique_ptr<sim::asiohost::AsioHost> StartHostWithPanel(kernel::HostKernel& kernel) {
  sim::asiohost::HostScript script;
  std::string error;
  sim::asiohost::ParseHostScript("load\ninit\ncontrol-panel\nrun\nrelease\n", &script, &error);
  script.name = "control-panel";
  sim::asiohost::HostSettings settings;
  settings.runMs = 3600e3;  // until told to quit, within the hour
  auto host = std::make_unique<sim::asiohost::AsioHost>(std::move(script), settings);
  host->Start(kernel);
  return host;
}

}  // namespace

CLI::App* AddPanelCommand(CLI::App& program, PanelOptions* options) {
  CLI::App* panel = program.add_subcommand(
      "panel",
      "Opens the ASIO control panel on a machine with the package installed and the devices "
      "plugged, performs the user's actions, and shows (and draws) what the user sees.");
  panel->add_option("--device", options->devices,
                    "a catalogue device to plug (repeatable, one per root port, up to 4; "
                    "default velmor-dac)")
      ->check(kCatalogueName);
  CLI::Option* hostRunning = panel->add_flag(
      "--host-running", options->hostRunning, "an ASIO host holds the driver while the panel runs");
  panel
      ->add_flag("--from-host", options->fromHost,
                 "an ASIO host opens the panel through the driver's controlPanel call (as its "
                 "button for the driver's settings does) instead of the user; it holds the driver "
                 "meanwhile and quits when the panel is closed")
      ->excludes(hostRunning);
  panel->add_option("--click", options->clicks,
                    "an action, in order (repeatable): device=N (the list's Nth entry, from 0), "
                    "rate=HZ, buffer=N (drag the slider to index N), key=NAME, minimise");
  panel->add_option("--out", options->outPath, "writes what the user sees as a PNG file");
  panel->footer(
      "examples:\n"
      "  tarnlink panel --out panel.png\n"
      "  tarnlink panel --device velmor-dac --device uac1-speaker --click device=1 --click "
      "buffer=31\n"
      "  tarnlink panel --from-host --click key=tab --click key=right --out panel.png");
  return panel;
}

int RunPanel(const PanelOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<Action> actions;
  for (const std::string& text : options.clicks) {
    Action action;
    std::string error;
    if (!ParseAction(text, &action, &error)) {
      err << "tarnlink panel: " << error << "\n";
      return kExitRefused;
    }
    actions.push_back(action);
  }
  std::vector<std::string> devices = options.devices;
  if (devices.empty()) devices.push_back("velmor-dac");
  if (devices.size() > sim::machine::kRootPorts) {
    err << "tarnlink panel: the machine has " << sim::machine::kRootPorts << " root ports\n";
    return kExitRefused;
  }
  kernel::HostKernel kernel;
  sim::machine::Machine machine(kernel, DriverEntry);
  if (!NT_SUCCESS(machine.LoadDriver())) {
    err << "tarnlink panel: the driver did not load\n";
    return kExitFailed;
  }
  for (size_t port = 0; port < devices.size(); ++port)
    if (!NT_SUCCESS(machine.PlugCatalogueDevice(devices[port], port))) {
      err << "tarnlink panel: the driver refused " << devices[port] << "\n";
      return kernel.Stopped() ? kExitFailed : kExitRefused;
    }
  std::unique_ptr<sim::asiohost::AsioHost> asioHost;
  if (options.fromHost) {
    if (machine.InstallAsioDriver(sim::asiohost::TarnlinkAsioModule()) != S_OK) {
      err << "tarnlink panel: the ASIO driver did not register\n";
      return kExitFailed;
    }
    asioHost = StartHostWithPanel(kernel);
  }
  int code = kExitOk;
  const bool ran = machine.RunInKernelThread([&] {
    PEPROCESS user = nullptr;
    if (!NT_SUCCESS(PsHostCreateProcess("explorer.exe", &user))) return;
    PEPROCESS previous = PsGetCurrentProcess();
    PsHostSetThreadProcess(KeGetCurrentThread(), user);
    RegisterControlPanelProgram(std::u16string(sim::machine::kControlPanelPath));
    {
      std::unique_ptr<sim::panel::HostPresence> host;
      if (options.hostRunning) host = std::make_unique<sim::panel::HostPresence>();
      std::unique_ptr<sim::panel::PanelUser> opened =
          asioHost ? std::make_unique<sim::panel::PanelUser>(sim::panel::PanelUser::OpenedElsewhere{})
                   : std::make_unique<sim::panel::PanelUser>(
                         std::u16string(sim::machine::kControlPanelPath));
      sim::panel::PanelUser& panel = *opened;
      if (!panel.Started()) {
        err << "tarnlink panel: the control panel did not open\n";
        code = kExitFailed;
      }
      for (const Action& action : actions) {
        std::string error;
        if (code == kExitOk && !Perform(panel, action, &error)) {
          err << "tarnlink panel: " << error << "\n";
          code = kExitRefused;
        }
      }
      if (code == kExitOk) {
        Report(panel, out);
        if (!options.outPath.empty()) {
          if (panel.Render(options.outPath)) {
            out << "wrote " << options.outPath << "\n";
          } else {
            err << "tarnlink panel: cannot write " << options.outPath << "\n";
            code = kExitRefused;
          }
        }
      }
      opened.reset();  // closed as its close box closes it
      if (asioHost) asioHost->Quit();
    }
    PsHostSetThreadProcess(KeGetCurrentThread(), previous);
    PsHostTerminateProcess(user);
    ObDereferenceObject(user);
  });
  const bool hostEnded = !asioHost || (ran && kernel.RunUntil([&] { return asioHost->Finished(); }));
  if (asioHost && hostEnded)
    for (const std::string& failure : asioHost->Report().failures)
      err << "tarnlink panel: the host: " << failure << "\n";
  if (!ran || !hostEnded || !machine.UnloadDriver()) {
    const kernel::StopInfo* stop = kernel.Stop();
    err << "tarnlink panel: the machine stopped\n" << (stop != nullptr ? stop->report : "") << "\n";
    return kExitFailed;
  }
  return code;
}

}  // namespace tarnlink::tool
