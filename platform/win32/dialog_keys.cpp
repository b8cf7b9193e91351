// The dialog manager's keyboard interface: IsDialogMessageW takes the keys a dialog handles
// itself (Tab and Shift+Tab between the tab stops, the arrows between the items of a group,
// Escape and Return as Cancel and OK) before the item with the focus sees them, unless the item
// says through WM_GETDLGCODE that it wants them; every other message of the dialog's windows it
// dispatches. Tab stops and groups skip hidden and disabled items.
#include <algorithm>
#include <vector>

#include "win32/controls.h"

using tarnlink::win32::StyleOf;

namespace {

bool Reachable(HWND item) { return IsWindowVisible(item) && IsWindowEnabled(item); }

// The dialog's item that is window or holds it; null when the window is not in the dialog.
HWND ItemOf(HWND dialog, HWND window) {
  for (HWND at = window; at != nullptr; at = GetParent(at)) {
    if (GetParent(at) == dialog) return at;
    if (at == dialog) return nullptr;
  }
  return nullptr;
}

bool InDialog(HWND dialog, HWND window) {
  return window == dialog || ItemOf(dialog, window) != nullptr;
}

// The items after (or before) from in order, going round once; all of them when from is null.
std::vector<HWND> RoundFrom(const std::vector<HWND>& items, HWND from, bool previous) {
  std::vector<HWND> order = items;
  if (previous) std::reverse(order.begin(), order.end());
  auto at = std::find(order.begin(), order.end(), from);
  if (at == order.end()) return order;
  std::vector<HWND> round(at + 1, order.end());
  round.insert(round.end(), order.begin(), at);
  return round;
}

// The group an item belongs to: from the item with WS_GROUP at or before it (the first item
// when none is) up to the next one that starts a group.
std::vector<HWND> GroupOf(const std::vector<HWND>& items, HWND item) {
  auto at = std::find(items.begin(), items.end(), item);
  if (at == items.end()) return {};
  auto first = at;
  while (first != items.begin() && (StyleOf(*first) & WS_GROUP) == 0) --first;
  auto last = at + 1;
  while (last != items.end() && (StyleOf(*last) & WS_GROUP) == 0) ++last;
  return {first, last};
}

void MoveFocus(HWND to) {
  if (to != nullptr) SetFocus(to);
}

// The command a key stands for, sent as the dialog's own button with that id would send it.
void Command(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(button));
}

// Handles a key the dialog itself takes; false when the item with the focus gets it.
bool DialogKey(HWND dialog, const MSG& message) {
  const auto code = static_cast<UINT>(SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam,
                                                   reinterpret_cast<LPARAM>(&message)));
  if ((code & DLGC_WANTMESSAGE) != 0) return false;
  HWND item = ItemOf(dialog, message.hwnd);
  switch (message.wParam) {
    case VK_TAB:
      if ((code & DLGC_WANTTAB) != 0) return false;
      MoveFocus(GetNextDlgTabItem(dialog, item, GetKeyState(VK_SHIFT) < 0));
      return true;
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
      if ((code & DLGC_WANTARROWS) != 0 || item == nullptr) return false;
      MoveFocus(GetNextDlgGroupItem(dialog, item,
                                    message.wParam == VK_LEFT || message.wParam == VK_UP));
      return true;
    case VK_ESCAPE:
      Command(dialog, IDCANCEL);
      return true;
    case VK_RETURN:
      Command(dialog, IDOK);
      return true;
    default:
      return false;
  }
}

}  // namespace

HWND WINAPI GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
  if (!IsWindow(hDlg)) return nullptr;
  for (HWND item : RoundFrom(tarnlink::win32::ChildrenOf(hDlg), hCtl, bPrevious != FALSE))
    if ((StyleOf(item) & WS_TABSTOP) != 0 && Reachable(item)) return item;
  return hCtl;
}

HWND WINAPI GetNextDlgGroupItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
  if (!IsWindow(hDlg)) return nullptr;
  const std::vector<HWND> items = tarnlink::win32::ChildrenOf(hDlg);
  const std::vector<HWND> group = hCtl != nullptr ? GroupOf(items, hCtl) : items;
  for (HWND item : RoundFrom(group, hCtl, bPrevious != FALSE))
    if (Reachable(item)) return item;
  return hCtl;
}

BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg) {
  if (lpMsg == nullptr || hDlg == nullptr || !InDialog(hDlg, lpMsg->hwnd)) return FALSE;
  if (lpMsg->message == WM_KEYDOWN && DialogKey(hDlg, *lpMsg)) return TRUE;
  TranslateMessage(lpMsg);
  DispatchMessageW(lpMsg);
  return TRUE;
}
