// The control panel as a user meets it: started as its own process on a machine with scripted
// devices, found by its window, read through its controls and driven by clicks, drags and keys.
#pragma once

#include <string>

#include "fake_channel_test.h"
#include "settings/reg_util.h"
#include "sim/panel/panel_user.h"

namespace cpl_test {

using sim::panel::HostPresence;
using sim::panel::Settle;

inline constexpr char16_t kPanelPath[] = u"C:\\Program Files\\Velmor\\Tarnlink_cpl.exe";

// Stores the three settings as a previous session would have left them.
void StoreSettings(const std::u16string& selected, DWORD rate, DWORD bufferIndex = 63);
DWORD StoredNumber(int id);
std::u16string StoredSelected();

// The panel installed at kPanelPath and started by the user.
class Panel : public sim::panel::PanelUser {
 public:
  Panel();
  // Writes what the user sees into the test run's artefact folder as NAME.png.
  void Render(const std::string& name) const;
};

}  // namespace cpl_test
