// The system's window classes: the dialog class and the controls, known to every process; and
// what the controls share.
#include "kernel/registry_names.h"
#include "win32/commctrl.h"
#include "win32/controls.h"

namespace tarnlink::win32 {

void RegisterSystemClasses(WindowSystem& windows) {
  struct Entry {
    const char16_t* name;
    WNDPROC procedure;
    HBRUSH background;
  };
  const Entry entries[] = {
      {u"#32770", DialogClassProcedure(), reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1)},
      {u"Static", StaticProc, nullptr},
      {u"Button", ButtonProc, nullptr},
      {u"ListBox", ListBoxProc, nullptr},
      {u"ComboBox", ComboBoxProc, nullptr},
      {TRACKBAR_CLASSW, TrackbarProc, nullptr},
  };
  for (const Entry& entry : entries) {
    auto key = std::make_pair(ULONG_PTR{0}, host::FoldRegistryName(entry.name));
    if (windows.classes.count(key) != 0) continue;
    WindowClass& record = windows.classes[key];
    record.name = entry.name;
    record.definition.cbSize = sizeof(WNDCLASSEXW);
    record.definition.lpfnWndProc = entry.procedure;
    record.definition.hbrBackground = entry.background;
    record.definition.lpszClassName = record.name.c_str();
    record.atom = windows.nextAtom++;
  }
}

void NotifyParent(HWND control, WORD code) {
  HWND parent = GetParent(control);
  if (parent == nullptr) return;
  SendMessageW(parent, WM_COMMAND, MAKELONG(GetDlgCtrlID(control), code),
               reinterpret_cast<LPARAM>(control));
}

void UseControlFont(HWND control, HDC dc) {
  auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
  if (font != nullptr) SelectObject(dc, font);
}

COLORREF ControlTextColor(HWND control) {
  return GetSysColor(IsWindowEnabled(control) ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
}

DWORD StyleOf(HWND control) { return static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE)); }

RECT ClientOf(HWND control) {
  RECT client{};
  GetClientRect(control, &client);
  return client;
}

}  // namespace tarnlink::win32

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
  // The classes are always there; the call only checks its record.
  return picce != nullptr && picce->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}
