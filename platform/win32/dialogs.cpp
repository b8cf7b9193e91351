// The dialog manager: dialogs made from extended templates (dialog units converted with the
// template font's base units), the dialog window procedure with its default handling, the
// modal loop, and the calls on a dialog's items.
#include <cstring>
#include <string>
#include <vector>

#include "win32/errhandlingapi.h"
#include "win32/libloaderapi.h"
#include "win32/nt_error.h"
#include "win32/wingdi.h"
#include "win32/window_system.h"

using tarnlink::win32::FailWithError;

namespace {

// What the dialog window keeps beyond the window record.
struct DialogState {
  bool ended = false;
  INT_PTR result = 0;
  HFONT font = nullptr;
};

// Reads the packed template.
class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* bytes) : at_(bytes) {}
  WORD Word() {
    WORD value;
    std::memcpy(&value, at_, 2);
    at_ += 2;
    return value;
  }
  DWORD Dword() {
    DWORD value;
    std::memcpy(&value, at_, 4);
    at_ += 4;
    return value;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() { return *at_++; }
  std::u16string Text() {
    std::u16string text;
    for (WORD c = Word(); c != 0; c = Word()) text += static_cast<char16_t>(c);
    return text;
  }
  // A text, or 0xFFFF and an ordinal (returned as "#n" with ordinal set).
  std::u16string TextOrOrdinal(WORD* ordinal) {
    *ordinal = 0;
    WORD first;
    std::memcpy(&first, at_, 2);
    if (first == 0xFFFF) {
      at_ += 2;
      *ordinal = Word();
      return {};
    }
    return Text();
  }
  void AlignDword(const BYTE* base) {
    while ((at_ - base) % 4 != 0) ++at_;
  }
  void Skip(size_t bytes) { at_ += bytes; }

 private:
  const BYTE* at_;
};

// The class a predefined ordinal names.
std::u16string PredefinedClass(WORD ordinal) {
  switch (ordinal) {
    case 0x80: return u"Button";
    case 0x81: return u"Edit";
    case 0x82: return u"Static";
    case 0x83: return u"ListBox";
    case 0x84: return u"ScrollBar";
    case 0x85: return u"ComboBox";
    default: return u"";
  }
}

// Dialog base units for a font of the given point size: "MS Shell Dlg" 8 gives 6 x 13 pixels
// at 96 dots per inch, and other sizes scale with it.
SIZE BaseUnits(WORD pointSize) {
  return {static_cast<LONG>((6 * pointSize + 4) / 8), static_cast<LONG>((13 * pointSize + 4) / 8)};
}

RECT ToPixels(SIZE base, short x, short y, short cx, short cy) {
  const LONG left = x * base.cx / 4;
  const LONG top = y * base.cy / 8;
  return {left, top, left + cx * base.cx / 4, top + cy * base.cy / 8};
}

DialogState* StateOf(HWND dialog) {
  return static_cast<DialogState*>(tarnlink::win32::WindowExtra(dialog));
}

// Messages whose dialog-procedure result is returned as it is, not through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
  return message == WM_INITDIALOG || message == WM_QUERYDRAGICON ||
         (message >= 0x0132 && message <= 0x0138);  // WM_CTLCOLOR*
}

LRESULT CALLBACK DialogWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto procedure = reinterpret_cast<DLGPROC>(GetWindowLongPtrW(hwnd, DWLP_DLGPROC));
  if (procedure != nullptr) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
    const INT_PTR handled = procedure(hwnd, message, wParam, lParam);
    if (handled != 0)
      return ReturnsDirectly(message) ? handled : GetWindowLongPtrW(hwnd, DWLP_MSGRESULT);
  }
  switch (message) {
    case WM_CLOSE:
      // As a dialog's close box does: it is the Cancel command.
      PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

// Reads the template and builds the dialog with its items; null on failure.
HWND BuildDialog(HINSTANCE instance, const BYTE* bytes, HWND parent, DLGPROC procedure,
                 LPARAM parameter) {
  TemplateReader reader(bytes);
  if (reader.Word() != 1 || reader.Word() != 0xFFFF) {
    FailWithError(ERROR_INVALID_DATA);  // only the extended form is read
    return nullptr;
  }
  reader.Dword();  // help id
  const DWORD exStyle = reader.Dword();
  const DWORD style = reader.Dword();
  const WORD items = reader.Word();
  const short x = reader.Short(), y = reader.Short(), cx = reader.Short(), cy = reader.Short();
  WORD ordinal;
  reader.TextOrOrdinal(&ordinal);  // menu: none here
  reader.TextOrOrdinal(&ordinal);  // class: the dialog class
  const std::u16string title = reader.Text();
  LOGFONTW font{};
  WORD pointSize = 8;
  if ((style & DS_SETFONT) != 0) {
    pointSize = reader.Word();
    font.lfWeight = reader.Word();
    font.lfItalic = reader.Byte();
    font.lfCharSet = reader.Byte();
    const std::u16string face = reader.Text();
    face.copy(font.lfFaceName, std::min<size_t>(face.size(), LF_FACESIZE - 1));
  }
  font.lfHeight = -((pointSize * 96 + 36) / 72);
  const SIZE base = BaseUnits(pointSize);
  RECT client = ToPixels(base, x, y, cx, cy);
  // The window's rectangle holds the client area and, with a caption, the frame around it.
  RECT frame = client;
  if ((style & WS_CAPTION) == WS_CAPTION) frame = {client.left, client.top, client.right + 6,
                                                   client.bottom + 29};
  HWND dialog = CreateWindowExW(exStyle, u"#32770", title.c_str(),
                                style & ~static_cast<DWORD>(WS_VISIBLE), frame.left, frame.top,
                                frame.right - frame.left, frame.bottom - frame.top, parent,
                                nullptr, instance, nullptr);
  if (dialog == nullptr) return nullptr;
  auto state = std::make_shared<DialogState>();
  state->font = CreateFontIndirectW(&font);
  {
    tarnlink::win32::State& machine = tarnlink::win32::MachineState();
    std::lock_guard guard(machine.lock);
    tarnlink::win32::FindWindowRecord(tarnlink::win32::Windows(machine), dialog)->extra = state;
  }
  SetWindowLongPtrW(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(procedure));
  SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
  HWND firstTab = nullptr;
  for (WORD i = 0; i < items; ++i) {
    reader.AlignDword(bytes);
    reader.Dword();  // help id
    const DWORD itemExStyle = reader.Dword();
    const DWORD itemStyle = reader.Dword();
    const short ix = reader.Short(), iy = reader.Short(), icx = reader.Short(),
                icy = reader.Short();
    const DWORD id = reader.Dword();
    WORD classOrdinal;
    std::u16string className = reader.TextOrOrdinal(&classOrdinal);
    if (classOrdinal != 0) className = PredefinedClass(classOrdinal);
    WORD textOrdinal;
    const std::u16string text = reader.TextOrOrdinal(&textOrdinal);
    reader.Skip(reader.Word());  // creation data
    const RECT r = ToPixels(base, ix, iy, icx, icy);
    HWND item = CreateWindowExW(itemExStyle, className.c_str(), text.c_str(),
                                itemStyle | WS_CHILD, r.left, r.top, r.right - r.left,
                                r.bottom - r.top, dialog,
                                reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(id)), instance,
                                nullptr);
    if (item == nullptr) {
      DestroyWindow(dialog);
      return nullptr;
    }
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
    if (firstTab == nullptr && (itemStyle & WS_TABSTOP) != 0 && (itemStyle & WS_DISABLED) == 0)
      firstTab = item;
  }
  if (SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), parameter) != 0 &&
      firstTab != nullptr && IsWindow(firstTab))
    SetFocus(firstTab);
  if (IsWindow(dialog) && (style & WS_VISIBLE) != 0) ShowWindow(dialog, SW_SHOWNORMAL);
  return IsWindow(dialog) ? dialog : nullptr;
}

}  // namespace

HWND WINAPI CreateDialogIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW lpTemplate,
                                       HWND hWndParent, DLGPROC lpDialogFunc,
                                       LPARAM dwInitParam) {
  if (lpTemplate == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return BuildDialog(hInstance, reinterpret_cast<const BYTE*>(lpTemplate), hWndParent,
                     lpDialogFunc, dwInitParam);
}

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate,
                                       HWND hWndParent, DLGPROC lpDialogFunc,
                                       LPARAM dwInitParam) {
  HWND dialog = CreateDialogIndirectParamW(hInstance, hDialogTemplate, hWndParent, lpDialogFunc,
                                           dwInitParam);
  if (dialog == nullptr) return -1;
  // A modal dialog is shown even when its template does not say so.
  DialogState* state = StateOf(dialog);
  if (!state->ended) ShowWindow(dialog, SW_SHOWNORMAL);
  MSG message;
  while (!state->ended) {
    if (!GetMessageW(&message, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    // As Windows' own modal loop: the dialog's keys first, then whatever else came.
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  const INT_PTR result = state->result;
  HFONT font = state->font;
  DestroyWindow(dialog);
  DeleteObject(font);
  return result;
}

namespace {

// The template resource of the image, or null (with the error set).
LPCDLGTEMPLATEW TemplateResource(HINSTANCE instance, LPCWSTR name) {
  HRSRC resource = FindResourceW(instance, name, RT_DIALOG);
  if (resource == nullptr) return nullptr;
  return static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(instance, resource)));
}

}  // namespace

HWND WINAPI CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  LPCDLGTEMPLATEW dialog = TemplateResource(hInstance, lpTemplateName);
  return dialog != nullptr ? CreateDialogIndirectParamW(hInstance, dialog, hWndParent,
                                                        lpDialogFunc, dwInitParam)
                           : nullptr;
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  LPCDLGTEMPLATEW dialog = TemplateResource(hInstance, lpTemplateName);
  return dialog != nullptr ? DialogBoxIndirectParamW(hInstance, dialog, hWndParent, lpDialogFunc,
                                                     dwInitParam)
                           : -1;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  DialogState* state = StateOf(hDlg);
  if (state == nullptr) return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  state->ended = true;
  state->result = nResult;
  ShowWindow(hDlg, SW_HIDE);
  PostMessageW(hDlg, WM_NULL, 0, 0);  // wakes the modal loop
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  for (HWND child : tarnlink::win32::ChildrenOf(hDlg))
    if (GetDlgCtrlID(child) == nIDDlgItem) return child;
  FailWithError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
  tarnlink::win32::Window window;
  if (!tarnlink::win32::CopyWindowRecord(hWnd, &window)) return 0;
  return window.id;
}

LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item != nullptr ? SendMessageW(item, Msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item != nullptr ? SetWindowTextW(item, lpString) : FALSE;
}

UINT WINAPI GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  if (item == nullptr) {
    if (lpString != nullptr && cchMax > 0) lpString[0] = 0;
    return 0;
  }
  return static_cast<UINT>(GetWindowTextW(item, lpString, cchMax));
}

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect) {
  if (lpRect == nullptr || StateOf(hDlg) == nullptr) return FailWithError(ERROR_INVALID_PARAMETER);
  LOGFONTW font{};
  GetObjectW(StateOf(hDlg)->font, sizeof font, &font);
  const WORD points = static_cast<WORD>((-font.lfHeight * 72 + 48) / 96);
  const SIZE base = BaseUnits(points);
  *lpRect = {lpRect->left * base.cx / 4, lpRect->top * base.cy / 8, lpRect->right * base.cx / 4,
             lpRect->bottom * base.cy / 8};
  return TRUE;
}

namespace tarnlink::win32 {

WNDPROC DialogClassProcedure() { return DialogWindowProc; }

}  // namespace tarnlink::win32
