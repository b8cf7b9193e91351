// The program's entry on Windows. On the simulated machine the installer's registration starts
// the same application object (sim/panel/control_panel_program.cpp).
#include "asio_control_panel_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  CAsioControlPanelApp app;
  return app.Run(instance);
}
