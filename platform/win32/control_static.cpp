// Static texts (plain and sunken; pictures draw nothing of their own) and the group box.
#include "win32/controls.h"

namespace tarnlink::win32 {

LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_GETDLGCODE) return DLGC_STATIC;
  if (message != WM_PAINT) return DefWindowProcW(hwnd, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  const DWORD style = StyleOf(hwnd);
  RECT area = ClientOf(hwnd);
  FillRect(dc, &area, GetSysColorBrush(COLOR_3DFACE));
  if ((style & SS_SUNKEN) != 0) {
    // A half-sunken border: shadow above and left, highlight below and right.
    RECT line = {area.left, area.top, area.right, area.top + 1};
    FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
    line = {area.left, area.top, area.left + 1, area.bottom};
    FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
    line = {area.left, area.bottom - 1, area.right, area.bottom};
    FillRect(dc, &line, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
    line = {area.right - 1, area.top, area.right, area.bottom};
    FillRect(dc, &line, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
    area = {area.left + 1, area.top + 1, area.right - 1, area.bottom - 1};
  }
  const DWORD type = style & SS_TYPEMASK;
  if (type <= SS_RIGHT) {
    WCHAR text[1024];
    GetWindowTextW(hwnd, text, 1024);
    UseControlFont(hwnd, dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ControlTextColor(hwnd));
    UINT format = DT_WORDBREAK | (type == SS_CENTER ? DT_CENTER : DT_LEFT);
    if ((style & SS_NOPREFIX) != 0) format |= DT_NOPREFIX;
    DrawTextW(dc, text, -1, &area, format);
  }
  EndPaint(hwnd, &paint);
  return 0;
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_GETDLGCODE && (StyleOf(hwnd) & 0xF) == BS_GROUPBOX) return DLGC_STATIC;
  if (message != WM_PAINT || (StyleOf(hwnd) & 0xF) != BS_GROUPBOX)
    return DefWindowProcW(hwnd, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  UseControlFont(hwnd, dc);
  WCHAR text[512];
  const int length = GetWindowTextW(hwnd, text, 512);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text, length, &extent);
  RECT area = ClientOf(hwnd);
  // The frame starts half a line down; the caption sits on it with the face colour around it.
  RECT frame = {area.left, area.top + extent.cy / 2, area.right, area.bottom};
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  if (length > 0) {
    RECT caption = {area.left + 6, area.top, area.left + 6 + extent.cx + 4, area.top + extent.cy};
    FillRect(dc, &caption, GetSysColorBrush(COLOR_3DFACE));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ControlTextColor(hwnd));
    caption.left += 2;
    DrawTextW(dc, text, length, &caption, DT_SINGLELINE | DT_LEFT);
  }
  EndPaint(hwnd, &paint);
  return 0;
}

}  // namespace tarnlink::win32
