// The user at the machine, host side: renders a top-level window as the screen shows it, and
// acts on windows as a mouse and keyboard would, by posting the messages the clicks, drags and
// key presses produce to the window under the pointer or with the focus. Points are in the
// top-level window's client coordinates. Call from a thread of the machine; the window's thread
// handles what arrives when it next takes its messages.
#pragma once

#include <string>

#include "win32/winuser.h"

namespace tarnlink::win32 {

// Draws the window (frame, caption, client area and children) into a PNG file; false when the
// window does not exist or the file cannot be written.
bool RenderWindow(HWND window, const std::string& pngPath);

// A left click at point.
void UserClick(HWND window, POINT point);
// Press at from, move to to, release there.
void UserDrag(HWND window, POINT from, POINT to);
// A key pressed and released on the window with the focus, with Shift held around it when
// shift is set.
void UserKey(WORD virtualKey, bool shift = false);
// The centre of a dialog item in its top-level window's client coordinates.
POINT ItemCentre(HWND item);

}  // namespace tarnlink::win32
