// The control panel as a user meets it: started as its own process on a machine with scripted
// devices, found by its window, read through its controls and driven by clicks, drags and keys.
#pragma once

#include <string>
#include <vector>

#include "devices/single_host_objects.h"
#include "fake_channel_test.h"
#include "settings/reg_util.h"
#include "user_mode.h"

namespace cpl_test {

inline constexpr char16_t kPanelPath[] = u"C:\\Program Files\\Velmor\\Tarnlink_cpl.exe";

// Lets every thread of the machine run until it waits (a short while of machine time).
void Settle();
// Stores the three settings as a previous session would have left them.
void StoreSettings(const std::u16string& selected, DWORD rate, DWORD bufferIndex = 63);
DWORD StoredNumber(int id);
std::u16string StoredSelected();

class Panel {
 public:
  // Starts the program and waits for its dialog.
  Panel();
  // Closes the dialog as its close box does and waits for the program to end.
  ~Panel();
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

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

  // User actions; each lets the panel handle what it caused.
  void ClickListItem(int index);
  void ChooseComboItem(int index);
  void DragSliderTo(LRESULT position);
  void Key(WORD virtualKey);
  // Writes what the user sees to the test's artefact folder as NAME.png.
  void Render(const std::string& name) const;

 private:
  PROCESS_INFORMATION process_{};
  HWND dialog_ = nullptr;
};

// A host's driver object as its device-watch thread keeps it: the active mutex held for its life
// (waited for, as the panel may hold it a moment) and the active event set.
class FakeHost {
 public:
  FakeHost() {
    mutex_ = CreateMutexW(nullptr, FALSE, kActiveMutexName);
    WaitForSingleObject(mutex_, INFINITE);
    event_ = CreateEventW(nullptr, TRUE, FALSE, kActiveEventName);
    SetEvent(event_);
    Settle();
  }
  ~FakeHost() {
    ResetEvent(event_);
    CloseHandle(event_);
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    Settle();
  }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

 private:
  HANDLE mutex_;
  HANDLE event_;
};

// The top-level panel windows present, first created first.
std::vector<HWND> PanelWindows();

}  // namespace cpl_test
