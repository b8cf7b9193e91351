// The drop-down list combo box: a selection field that opens its list on a click, takes a
// choice from the open list, or steps with the arrow keys, telling the parent CBN_DROPDOWN,
// CBN_SELCHANGE and CBN_CLOSEUP. Escape and Return close an open list. The open list lies
// below the field, as tall as its items up to thirty of them (the visual-styles default of the
// minimum visible items, which ignores the height the control was made with).
#include <algorithm>
#include <string>
#include <vector>

#include "win32/controls.h"

namespace tarnlink::win32 {
namespace {

struct ComboBox {
  std::vector<std::pair<std::u16string, LONG_PTR>> items;
  int selection = CB_ERR;
  bool dropped = false;
  bool focused = false;
};

// The selection field's height for the dialog font, the open list's lines and its border.
constexpr LONG kFieldHeight = 21;
constexpr LONG kItemHeight = 15;
constexpr LONG kListBorder = 1;
constexpr int kMinVisible = 30;

// The open list's rectangle in the combo box's client coordinates, for its count of items.
RECT ListRect(HWND hwnd, LRESULT count) {
  const LONG rows = static_cast<LONG>(std::min<LRESULT>(count, kMinVisible));
  return {0, kFieldHeight, ClientOf(hwnd).right,
          kFieldHeight + 2 * kListBorder + rows * kItemHeight};
}

void Close(HWND hwnd, ComboBox& box) {
  if (!box.dropped) return;
  box.dropped = false;
  NotifyParent(hwnd, CBN_CLOSEUP);
}

void Choose(HWND hwnd, ComboBox& box, int index) {
  if (index == box.selection) return;
  box.selection = index;
  NotifyParent(hwnd, CBN_SELCHANGE);
}

// The open list below the field: a white box with a dark border, the selected line in the
// highlight colours.
void PaintList(HWND hwnd, const ComboBox& box, HDC dc) {
  const RECT list = ListRect(hwnd, static_cast<LRESULT>(box.items.size()));
  FillRect(dc, &list, GetSysColorBrush(COLOR_WINDOW));
  HBRUSH border = CreateSolidBrush(RGB(100, 100, 100));
  FrameRect(dc, &list, border);
  DeleteObject(border);
  const int rows = std::min<int>(static_cast<int>(box.items.size()), kMinVisible);
  for (int i = 0; i < rows; ++i) {
    const bool selected = i == box.selection;
    const LONG top = list.top + kListBorder + i * kItemHeight;
    RECT line = {list.left + kListBorder, top, list.right - kListBorder, top + kItemHeight};
    if (selected) FillRect(dc, &line, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text = {line.left + 3, line.top, line.right, line.bottom};
    DrawTextW(dc, box.items[i].first.c_str(), -1, &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
}

void Paint(HWND hwnd, const ComboBox& box) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT field = ClientOf(hwnd);
  const bool enabled = IsWindowEnabled(hwnd);
  // Pressed while its list is open, as the visual style draws it.
  HBRUSH face = CreateSolidBrush(box.dropped  ? RGB(204, 228, 247)
                                 : enabled    ? RGB(225, 225, 225)
                                              : RGB(204, 204, 204));
  HBRUSH border = CreateSolidBrush(box.dropped  ? RGB(0, 84, 153)
                                   : enabled    ? RGB(173, 173, 173)
                                                : RGB(191, 191, 191));
  FillRect(dc, &field, face);
  FrameRect(dc, &field, border);
  UseControlFont(hwnd, dc);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ControlTextColor(hwnd));
  if (box.selection >= 0) {
    RECT text = {field.left + 4, field.top, field.right - 18, field.bottom};
    DrawTextW(dc, box.items[box.selection].first.c_str(), -1, &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (box.focused) {
      RECT focus = {field.left + 3, field.top + 3, field.right - 18, field.bottom - 3};
      DrawFocusRect(dc, &focus);
    }
  }
  // The drop-down arrow: a small chevron.
  const LONG cx = field.right - 10;
  const LONG cy = (field.top + field.bottom) / 2 - 1;
  HPEN pen = CreatePen(PS_SOLID, 1, ControlTextColor(hwnd));
  HGDIOBJ previous = SelectObject(dc, pen);
  for (LONG i = 0; i < 4; ++i) {
    MoveToEx(dc, cx - 4 + i, cy + i, nullptr);
    LineTo(dc, cx + 5 - i, cy + i);
  }
  SelectObject(dc, previous);
  DeleteObject(pen);
  DeleteObject(face);
  DeleteObject(border);
  // Drawn only where the painting may reach below the field (see OpenComboList).
  if (box.dropped) PaintList(hwnd, box, dc);
  EndPaint(hwnd, &paint);
}

}  // namespace

LRESULT CALLBACK ComboBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ComboBox& box = ControlState<ComboBox>(hwnd);
  const int count = static_cast<int>(box.items.size());
  switch (message) {
    case WM_CREATE: {
      // The window is the selection field; the list opens below it.
      State& machine = MachineState();
      std::lock_guard guard(machine.lock);
      Window* record = FindWindowRecord(Windows(machine), hwnd);
      record->rect.bottom = record->rect.top + kFieldHeight;
      return 0;
    }
    case CB_ADDSTRING:
      box.items.emplace_back(reinterpret_cast<LPCWSTR>(lParam), 0);
      return count;
    case CB_RESETCONTENT:
      box.items.clear();
      box.selection = CB_ERR;
      return 0;
    case CB_GETCOUNT:
      return count;
    case CB_GETCURSEL:
      return box.selection;
    case CB_SETCURSEL: {
      const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
      box.selection = index >= 0 && index < count ? index : CB_ERR;
      return box.selection;
    }
    case CB_SETITEMDATA:
    case CB_GETITEMDATA: {
      const int index = static_cast<int>(wParam);
      if (index < 0 || index >= count) return CB_ERR;
      if (message == CB_SETITEMDATA) box.items[index].second = lParam;
      return message == CB_SETITEMDATA ? TRUE : box.items[index].second;
    }
    case CB_GETLBTEXTLEN:
    case CB_GETLBTEXT: {
      const int index = static_cast<int>(wParam);
      if (index < 0 || index >= count) return CB_ERR;
      const std::u16string& text = box.items[index].first;
      if (message == CB_GETLBTEXT && lParam != 0) {
        auto* out = reinterpret_cast<LPWSTR>(lParam);
        text.copy(out, text.size());
        out[text.size()] = 0;
      }
      return static_cast<LRESULT>(text.size());
    }
    case CB_GETDROPPEDSTATE:
      return box.dropped ? TRUE : FALSE;
    case CB_SHOWDROPDOWN:
      if (wParam != 0 && !box.dropped) {
        NotifyParent(hwnd, CBN_DROPDOWN);
        box.dropped = true;
      } else if (wParam == 0) {
        Close(hwnd, box);
      }
      return TRUE;
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const LONG y = static_cast<short>(HIWORD(lParam));
      if (!box.dropped) {
        NotifyParent(hwnd, CBN_DROPDOWN);
        box.dropped = true;
        return 0;
      }
      // A click on a line of the open list chooses; anywhere else closes it.
      const RECT list = ListRect(hwnd, static_cast<LRESULT>(box.items.size()));
      const LONG into = y - list.top - kListBorder;
      const int index = into >= 0 && y < list.bottom - kListBorder
                            ? static_cast<int>(into / kItemHeight)
                            : -1;
      if (index >= 0 && index < count) Choose(hwnd, box, index);
      Close(hwnd, box);
      return 0;
    }
    case WM_GETDLGCODE: {
      // An open list takes the keys that close it, before the dialog makes them its commands.
      const auto* key = reinterpret_cast<const MSG*>(lParam);
      const bool closing = box.dropped && key != nullptr && key->message == WM_KEYDOWN &&
                           (key->wParam == VK_ESCAPE || key->wParam == VK_RETURN);
      return DLGC_WANTARROWS | DLGC_WANTCHARS | (closing ? DLGC_WANTMESSAGE : 0);
    }
    case WM_KEYDOWN: {
      if (wParam == VK_ESCAPE || wParam == VK_RETURN) {
        Close(hwnd, box);
        return 0;
      }
      if (count == 0) return 0;
      int index = box.selection;
      if (wParam == VK_UP || wParam == VK_LEFT) index = std::max(0, index - 1);
      else if (wParam == VK_DOWN || wParam == VK_RIGHT) index = std::min(count - 1, index + 1);
      else if (wParam == VK_HOME) index = 0;
      else if (wParam == VK_END) index = count - 1;
      Choose(hwnd, box, index);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      box.focused = message == WM_SETFOCUS;
      if (message == WM_KILLFOCUS) Close(hwnd, box);
      return 0;
    case WM_ENABLE:
      if (wParam == 0) Close(hwnd, box);
      return 0;
    case WM_PAINT:
      Paint(hwnd, box);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

bool OpenComboList(HWND window, RECT* list) {
  Window record;
  if (!CopyWindowRecord(window, &record) || record.className != u"COMBOBOX" ||
      SendMessageW(window, CB_GETDROPPEDSTATE, 0, 0) == 0)
    return false;
  *list = ListRect(window, SendMessageW(window, CB_GETCOUNT, 0, 0));
  return true;
}

}  // namespace tarnlink::win32
