// Mouse and keyboard input as messages: the window under the pointer (the innermost visible
// child, or an open combo box's list) gets the button and move messages in its own client
// coordinates; a disabled window's clicks go nowhere.
#include <vector>

#include "win32/controls.h"
#include "win32/user_input.h"

namespace tarnlink::win32 {
namespace {

bool IsOpenCombo(HWND window) {
  RECT list;
  return OpenComboList(window, &list);
}

// The window's client origin in its top-level window's client coordinates.
POINT ClientOrigin(HWND window, HWND top) {
  RECT item{};
  RECT whole{};
  GetWindowRect(window, &item);
  GetWindowRect(top, &whole);
  RECT client{};
  GetClientRect(top, &client);
  const LONG frameX = (whole.right - whole.left - client.right) / 2;
  const LONG frameY = whole.bottom - whole.top - client.bottom - frameX;
  return {item.left - whole.left - frameX, item.top - whole.top - frameY};
}

bool Contains(HWND window, HWND top, POINT point) {
  const POINT origin = ClientOrigin(window, top);
  RECT client = ClientOf(window);
  RECT list;
  if (OpenComboList(window, &list)) client.bottom = list.bottom;
  return point.x >= origin.x && point.y >= origin.y && point.x < origin.x + client.right &&
         point.y < origin.y + client.bottom;
}

// The innermost visible window under point; an open combo box's list lies above everything.
HWND HitTest(HWND top, POINT point) {
  HWND hit = top;
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (HWND child : ChildrenOf(hit)) {
      if (!IsWindowVisible(child) || !Contains(child, top, point)) continue;
      hit = child;
      deeper = true;
      if (IsOpenCombo(child)) return child;
    }
  }
  return hit;
}

LPARAM Coordinates(HWND window, HWND top, POINT point) {
  const POINT origin = ClientOrigin(window, top);
  return MAKELONG(point.x - origin.x, point.y - origin.y);
}

// An open combo box anywhere in the window catches the next click.
HWND OpenCombo(HWND top) {
  std::vector<HWND> pending = {top};
  while (!pending.empty()) {
    HWND window = pending.back();
    pending.pop_back();
    if (window != top && IsOpenCombo(window)) return window;
    for (HWND child : ChildrenOf(window)) pending.push_back(child);
  }
  return nullptr;
}

HWND Target(HWND top, POINT point) {
  HWND open = OpenCombo(top);
  if (open != nullptr) return open;
  HWND hit = HitTest(top, point);
  return IsWindowEnabled(hit) ? hit : nullptr;
}

}  // namespace

POINT ItemCentre(HWND item) {
  HWND top = item;
  while (GetParent(top) != nullptr) top = GetParent(top);
  const POINT origin = ClientOrigin(item, top);
  const RECT client = ClientOf(item);
  return {origin.x + client.right / 2, origin.y + client.bottom / 2};
}

void UserClick(HWND window, POINT point) {
  HWND target = Target(window, point);
  if (target == nullptr) return;
  const LPARAM at = Coordinates(target, window, point);
  PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(target, WM_LBUTTONUP, 0, at);
}

void UserDrag(HWND window, POINT from, POINT to) {
  HWND target = Target(window, from);
  if (target == nullptr) return;
  // The window pressed holds the mouse until the release.
  PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, Coordinates(target, window, from));
  PostMessageW(target, WM_MOUSEMOVE, MK_LBUTTON, Coordinates(target, window, to));
  PostMessageW(target, WM_LBUTTONUP, 0, Coordinates(target, window, to));
}

void UserKey(WORD virtualKey, bool shift) {
  HWND focus = GetFocus();
  if (focus == nullptr) return;
  if (shift) PostMessageW(focus, WM_KEYDOWN, VK_SHIFT, 1);
  PostMessageW(focus, WM_KEYDOWN, virtualKey, 1);
  PostMessageW(focus, WM_KEYUP, virtualKey, 0xC0000001);
  if (shift) PostMessageW(focus, WM_KEYUP, VK_SHIFT, 0xC0000001);
}

}  // namespace tarnlink::win32
