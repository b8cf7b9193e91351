#include "command_line.h"

#include <CLI/CLI.hpp>

#include "controls_command.h"
#include "info_command.h"
#include "panel_command.h"
#include "stream_command.h"

namespace tarnlink::tool {

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App program(
      "Runs the Tarnlink driver package on a simulated machine with simulated USB audio devices.",
      "tarnlink");
  program.set_version_flag("--version", "tarnlink " TARNLINK_VERSION);
  program.require_subcommand(0, 1);
  program.footer(
      "Run `tarnlink COMMAND --help` for a command's options and examples.\n"
      "examples:\n"
      "  tarnlink play\n"
      "  tarnlink controls --volume -20 --mute off\n"
      "  tarnlink panel --out panel.png\n"
      "  tarnlink info --descriptors /sys/bus/usb/devices/1-1/descriptors");

  InfoOptions info;
  CLI::App* infoCommand = AddInfoCommand(program, &info);
  PanelOptions panel;
  CLI::App* panelCommand = AddPanelCommand(program, &panel);
  StreamOptions stream;
  CLI::App* streamCommands[3] = {};
  AddStreamCommands(program, &stream, streamCommands);
  ControlsOptions controls;
  CLI::App* controlsCommand = AddControlsCommand(program, &controls);

  try {
    program.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with code 0; every real parse error is a bad argument.
    return program.exit(e, out, err) == 0 ? kExitOk : kExitRefused;
  }
  if (infoCommand->parsed()) return RunInfo(info, out, err);
  if (controlsCommand->parsed()) return RunControls(controls, out, err);
  if (panelCommand->parsed()) return RunPanel(panel, out, err);
  constexpr StreamDirections kDirections[] = {StreamDirections::Play, StreamDirections::Record,
                                              StreamDirections::Duplex};
  for (int k = 0; k < 3; ++k) {
    if (!streamCommands[k]->parsed()) continue;
    stream.request.directions = kDirections[k];
    return RunStream(stream, out, err);
  }
  out << program.help();
  return kExitOk;
}

}  // namespace tarnlink::tool
