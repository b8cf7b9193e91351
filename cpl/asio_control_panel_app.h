// The control panel program: one instance at a time (a second start brings the first one's
// window forward and ends), COM and GDI+ for its lifetime, and the main dialog run modally.
#pragma once

#include "user_mode.h"

// Names the running control panel: created owned by the first instance.
inline constexpr LPCWSTR kAppMutexName = WSTR("Global\\{D71BCB38-F7DA-416D-9D6F-624AC7C5BA53}");

class CAsioControlPanelApp {
 public:
  // Runs the program; its exit code.
  int Run(HINSTANCE instance);

 private:
  // Shows the first instance's dialog and brings it to the foreground.
  static void BringFirstForward();
};
