// `tarnlink panel`: the control panel as the user sees it, on a machine with the package
// installed and the devices plugged.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tarnlink::tool {

struct PanelOptions {
  std::vector<std::string> devices;  // catalogue names, one per root port
  bool hostRunning = false;          // an ASIO host holds the driver meanwhile
  bool fromHost = false;             // an ASIO host's controlPanel call opens the panel
  std::vector<std::string> clicks;   // device=N, rate=HZ, buffer=N, key=NAME, minimise
  std::string outPath;               // the PNG of what the user sees
};

CLI::App* AddPanelCommand(CLI::App& program, PanelOptions* options);

// 0 after the panel ran; 2 for a device the driver refuses or an action the panel does not
// offer; 1 when the machine stopped.
int RunPanel(const PanelOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tarnlink::tool
