// What the standard and common controls share: their state beside the window record, the
// notifications they send their parent, and the font and colours they draw with.
#pragma once

#include <memory>

#include "win32/window_system.h"
#include "win32/wingdi.h"

namespace tarnlink::win32 {

// The control's state, made when the window is created.
template <typename T>
T& ControlState(HWND window) {
  if (void* extra = WindowExtra(window)) return *static_cast<T*>(extra);
  auto state = std::make_shared<T>();
  T& result = *state;
  State& machine = MachineState();
  std::lock_guard guard(machine.lock);
  FindWindowRecord(Windows(machine), window)->extra = std::move(state);
  return result;
}

// WM_COMMAND with the control's id and the code, sent to its parent.
void NotifyParent(HWND control, WORD code);
// Selects the control's font (WM_SETFONT) into the DC.
void UseControlFont(HWND control, HDC dc);
// The text colour of a control in its enabled or disabled state.
COLORREF ControlTextColor(HWND control);
// The control's window style.
DWORD StyleOf(HWND control);
// The client rectangle.
RECT ClientOf(HWND control);

LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ListBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK TrackbarProc(HWND, UINT, WPARAM, LPARAM);
WNDPROC DialogClassProcedure();
// Whether the window is a combo box with its list open, and then the list's rectangle in the
// combo box's client coordinates (below its field, where its painting draws it too).
bool OpenComboList(HWND window, RECT* list);

}  // namespace tarnlink::win32
