// `tarnlink controls`: the wave filter's controls as the Windows volume control and endpoint
// builder see them (volume and mute nodes with their channels, jacks, component identity,
// signal-processing modes), a requested volume or mute applied through the same property
// requests, and the values the device's feature units then hold.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "device_source.h"
#include "sim/audioengine/endpoint_controls.h"
#include "sim/devices/audio_controls.h"

namespace CLI {
class App;
}

namespace tarnlink::tool {

struct ControlsOptions {
  DeviceChoice device;
  std::optional<double> volumeDb;  // for every channel of every volume node
  std::optional<bool> mute;        // for every mute node
  // The connector state every terminal of a catalogue device reports.
  std::optional<sim::devices::ConnectorState> jacks;
  bool json = false;
};

// What a feature unit of the device holds after the run, per channel (0 is the master).
struct UnitLevels {
  uint8_t unit = 0;
  std::vector<int16_t> volume;  // 8.8 dB; 0x8000 silence
  std::vector<bool> mute;
};

struct ControlsReport {
  std::string device;
  sim::audioengine::EndpointControls before;
  // Filled when a change was asked for: the status of each write and the controls read again.
  std::vector<std::pair<std::string, NTSTATUS>> applied;
  std::optional<sim::audioengine::EndpointControls> after;
  std::vector<std::string> pinCategories;  // by pin id
  std::vector<uint8_t> nodeUnits;          // feature unit of each node, by node id (0: none)
  std::vector<UnitLevels> deviceHolds;     // empty for a device that is no catalogue model
};

CLI::App* AddControlsCommand(CLI::App& program, ControlsOptions* options);

// 0 when shown (and every requested change was accepted), 2 for a device the driver refuses, a
// change it refuses or bad arguments, 1 when the machine stopped.
int RunControls(const ControlsOptions& options, std::ostream& out, std::ostream& err);

std::string ControlsText(const ControlsReport& report);
std::string ControlsJson(const ControlsReport& report);

}  // namespace tarnlink::tool
