// The list box: single selection, strings, fixed owner drawing through the parent, selection by
// click and arrow keys with LBN_SELCHANGE, and painting with a sunken border.
#include <algorithm>
#include <string>
#include <vector>

#include "win32/controls.h"

namespace tarnlink::win32 {
namespace {

struct ListBox {
  std::vector<std::u16string> items;
  int selection = LB_ERR;
  int top = 0;
  int itemHeight = 13;  // the dialog font's line, unless the parent measures otherwise
  bool focused = false;
};

constexpr LONG kBorder = 2;

int VisibleRows(HWND hwnd, const ListBox& box) {
  const RECT client = ClientOf(hwnd);
  return std::max<LONG>(1, (client.bottom - client.top - 2 * kBorder) / box.itemHeight);
}

RECT ItemRect(HWND hwnd, const ListBox& box, int index) {
  const RECT client = ClientOf(hwnd);
  const LONG top = kBorder + (index - box.top) * box.itemHeight;
  LONG right = client.right - kBorder;
  if (static_cast<int>(box.items.size()) > VisibleRows(hwnd, box)) right -= 17;  // scroll bar
  return {kBorder, top, right, top + box.itemHeight};
}

void Select(HWND hwnd, ListBox& box, int index, bool notify) {
  if (index == box.selection) return;
  box.selection = index;
  if (index >= 0) {
    const int rows = VisibleRows(hwnd, box);
    if (index < box.top) box.top = index;
    if (index >= box.top + rows) box.top = index - rows + 1;
  }
  if (notify && (StyleOf(hwnd) & LBS_NOTIFY) != 0) NotifyParent(hwnd, LBN_SELCHANGE);
}

void Paint(HWND hwnd, ListBox& box) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client = ClientOf(hwnd);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  DrawEdge(dc, &client, EDGE_SUNKEN, BF_RECT);
  UseControlFont(hwnd, dc);
  const bool ownerDrawn = (StyleOf(hwnd) & LBS_OWNERDRAWFIXED) != 0;
  const int rows = VisibleRows(hwnd, box);
  for (int i = box.top; i < static_cast<int>(box.items.size()) && i < box.top + rows; ++i) {
    const RECT item = ItemRect(hwnd, box, i);
    const bool selected = i == box.selection;
    const bool focus = box.focused && (selected || (box.selection < 0 && i == 0));
    if (ownerDrawn) {
      DRAWITEMSTRUCT draw = {ODT_LISTBOX, static_cast<UINT>(GetDlgCtrlID(hwnd)),
                             static_cast<UINT>(i), ODA_DRAWENTIRE,
                             (selected ? ODS_SELECTED : 0u) | (focus ? ODS_FOCUS : 0u) |
                                 (IsWindowEnabled(hwnd) ? 0u : ODS_DISABLED),
                             hwnd, dc, item, 0};
      SendMessageW(GetParent(hwnd), WM_DRAWITEM, draw.CtlID, reinterpret_cast<LPARAM>(&draw));
      continue;
    }
    FillRect(dc, &item, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text = {item.left + 2, item.top, item.right, item.bottom};
    DrawTextW(dc, box.items[i].c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (focus) DrawFocusRect(dc, &item);
  }
  if (static_cast<int>(box.items.size()) > rows) {
    // The vertical scroll bar: its track and a thumb in proportion.
    RECT bar = {client.right - kBorder - 17, kBorder, client.right - kBorder,
                client.bottom - kBorder};
    FillRect(dc, &bar, GetSysColorBrush(COLOR_3DFACE));
    const LONG track = bar.bottom - bar.top - 34;
    const LONG size = std::max<LONG>(8, track * rows / static_cast<LONG>(box.items.size()));
    const LONG at = bar.top + 17 + (track - size) * box.top /
                                       std::max<LONG>(1, static_cast<LONG>(box.items.size()) - rows);
    RECT thumb = {bar.left + 2, at, bar.right - 2, at + size};
    FillRect(dc, &thumb, GetSysColorBrush(COLOR_BTNSHADOW));
  }
  EndPaint(hwnd, &paint);
}

}  // namespace

LRESULT CALLBACK ListBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ListBox& box = ControlState<ListBox>(hwnd);
  const int count = static_cast<int>(box.items.size());
  switch (message) {
    case WM_CREATE:
      if ((StyleOf(hwnd) & LBS_OWNERDRAWFIXED) != 0) {
        MEASUREITEMSTRUCT measure = {ODT_LISTBOX, static_cast<UINT>(GetDlgCtrlID(hwnd)), 0, 0,
                                     static_cast<UINT>(box.itemHeight), 0};
        SendMessageW(GetParent(hwnd), WM_MEASUREITEM, measure.CtlID,
                     reinterpret_cast<LPARAM>(&measure));
        if (measure.itemHeight > 0) box.itemHeight = static_cast<int>(measure.itemHeight);
      }
      return 0;
    case LB_ADDSTRING:
      box.items.emplace_back(reinterpret_cast<LPCWSTR>(lParam));
      return count;
    case LB_RESETCONTENT:
      box.items.clear();
      box.selection = LB_ERR;
      box.top = 0;
      return 0;
    case LB_SETCURSEL: {
      const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
      Select(hwnd, box, index >= 0 && index < count ? index : LB_ERR, false);
      return index >= 0 && index < count ? index : LB_ERR;
    }
    case LB_GETCURSEL:
      return box.selection;
    case LB_GETCOUNT:
      return count;
    case LB_GETTOPINDEX:
      return box.top;
    case LB_GETITEMHEIGHT:
      return box.itemHeight;
    case LB_GETTEXTLEN:
    case LB_GETTEXT: {
      const int index = static_cast<int>(wParam);
      if (index < 0 || index >= count) return LB_ERR;
      const std::u16string& text = box.items[index];
      if (message == LB_GETTEXT && lParam != 0) {
        auto* out = reinterpret_cast<LPWSTR>(lParam);
        text.copy(out, text.size());
        out[text.size()] = 0;
      }
      return static_cast<LRESULT>(text.size());
    }
    case LB_GETITEMRECT: {
      const int index = static_cast<int>(wParam);
      if (index < 0 || index >= count || lParam == 0) return LB_ERR;
      *reinterpret_cast<RECT*>(lParam) = ItemRect(hwnd, box, index);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const int y = static_cast<short>(HIWORD(lParam));
      const int index = box.top + (y - kBorder) / box.itemHeight;
      if (y >= kBorder && index < count) Select(hwnd, box, index, true);
      return 0;
    }
    case WM_KEYDOWN: {
      if (count == 0) return 0;
      int index = box.selection;
      if (wParam == VK_UP) index = std::max(0, index - 1);
      else if (wParam == VK_DOWN) index = std::min(count - 1, index + 1);
      else if (wParam == VK_HOME) index = 0;
      else if (wParam == VK_END) index = count - 1;
      Select(hwnd, box, index, true);
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      box.focused = message == WM_SETFOCUS;
      return 0;
    case WM_PAINT:
      Paint(hwnd, box);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace tarnlink::win32
