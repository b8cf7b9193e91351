// A user at the control panel: starts Tarnlink_cpl.exe as the installer registered it, finds
// its dialog, reads what its controls show and acts on them with the clicks, drags and keys a
// person would make, each followed by the time the panel needs to handle it. Also a host as
// far as the panel sees one: the single-host objects a running ASIO driver object holds.
// Everything runs in a user process of the machine (the caller's thread).
#pragma once

#include <string>
#include <vector>

#include "user_mode.h"

namespace sim::panel {

// Lets every thread of the machine run until it waits (a short while of machine time).
void Settle();

// The top-level panel windows present, first created first.
std::vector<HWND> PanelWindows();

class PanelUser {
 public:
  // Starts the program at path (registered with the machine) and waits for its dialog.
  explicit PanelUser(const std::u16string& path);
  // Finds the panel something else started (an ASIO host's controlPanel call) once it opened.
  struct OpenedElsewhere {};
  explicit PanelUser(OpenedElsewhere);
  // Closes the dialog as its close box does and waits for the program to end.
  ~PanelUser();
  PanelUser(const PanelUser&) = delete;
  PanelUser& operator=(const PanelUser&) = delete;

  bool Started() const { return dialog_ != nullptr; }
  HWND Dialog() const { return dialog_; }
  HANDLE Process() const { return process_.hProcess; }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::u16string Text(int id) const;
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  std::vector<std::u16string> ListItems() const;
  int ListSelection() const;
  std::vector<std::u16string> ComboItems() const;
  std::u16string ComboSelection() const;
  LRESULT SliderPosition() const;

  void ClickListItem(int index);
  void ChooseComboItem(int index);
  void DragSliderTo(LRESULT position);
  void Key(WORD virtualKey, bool shift = false);
  // The dialog item with the keyboard focus, or 0.
  int FocusedItem() const;
  // Opens the rate list with a click on its field, and leaves it open.
  void OpenComboList();
  // Clicks a line of the open rate list.
  void ClickOpenListItem(int index);
  void Minimise();
  // Writes what the user sees to a PNG file; false when it could not be written.
  bool Render(const std::string& path) const;

 private:
  void FindDialog();

  PROCESS_INFORMATION process_{};
  HWND dialog_ = nullptr;
};

// A host's driver object as its device-watch thread keeps it: the active mutex held for its
// life (waited for, as the panel may hold it a moment) and the active event set.
class HostPresence {
 public:
  HostPresence();
  ~HostPresence();
  HostPresence(const HostPresence&) = delete;
  HostPresence& operator=(const HostPresence&) = delete;

 private:
  HANDLE mutex_;
  HANDLE event_;
};

}  // namespace sim::panel
