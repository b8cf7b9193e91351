// The trackbar: a horizontal channel with a thumb. Dragging the thumb sends TB_THUMBTRACK while
// it moves and TB_THUMBPOSITION when released; clicking the channel pages; the arrow, page, home
// and end keys step; every action ends with TB_ENDTRACK. All arrive at the parent as WM_HSCROLL.
#include <algorithm>
#include <utility>

#include "win32/commctrl.h"
#include "win32/controls.h"

namespace tarnlink::win32 {
namespace {

struct Trackbar {
  LONG minimum = 0;
  LONG maximum = 100;
  LONG position = 0;
  LONG line = 1;
  LONG page = 20;
  bool dragging = false;
  bool focused = false;
};

constexpr LONG kMargin = 8;     // from the control's ends to the channel's usable ends
constexpr LONG kThumbWidth = 11;

LONG Clamp(const Trackbar& bar, LONG position) {
  return std::clamp(position, bar.minimum, std::max(bar.minimum, bar.maximum));
}

LONG ThumbCentre(HWND hwnd, const Trackbar& bar) {
  const RECT client = ClientOf(hwnd);
  const LONG span = std::max<LONG>(1, bar.maximum - bar.minimum);
  return kMargin + (bar.position - bar.minimum) * (client.right - 2 * kMargin) / span;
}

LONG PositionAt(HWND hwnd, const Trackbar& bar, LONG x) {
  const RECT client = ClientOf(hwnd);
  const LONG width = std::max<LONG>(1, client.right - 2 * kMargin);
  const LONG span = bar.maximum - bar.minimum;
  return Clamp(bar, bar.minimum + ((x - kMargin) * span + width / 2) / width);
}

void Scroll(HWND hwnd, WORD code, LONG position) {
  const WORD reported = code == TB_THUMBTRACK || code == TB_THUMBPOSITION
                            ? static_cast<WORD>(position)
                            : 0;
  SendMessageW(GetParent(hwnd), WM_HSCROLL, MAKELONG(code, reported),
               reinterpret_cast<LPARAM>(hwnd));
}

void Step(HWND hwnd, Trackbar& bar, WORD code) {
  switch (code) {
    case TB_LINEUP: bar.position = Clamp(bar, bar.position - bar.line); break;
    case TB_LINEDOWN: bar.position = Clamp(bar, bar.position + bar.line); break;
    case TB_PAGEUP: bar.position = Clamp(bar, bar.position - bar.page); break;
    case TB_PAGEDOWN: bar.position = Clamp(bar, bar.position + bar.page); break;
    case TB_TOP: bar.position = bar.minimum; break;
    case TB_BOTTOM: bar.position = Clamp(bar, bar.maximum); break;
    default: break;
  }
  Scroll(hwnd, code, bar.position);
}

// The move a key makes; TB_ENDTRACK for a key that makes none.
WORD KeyCode(WPARAM key) {
  switch (key) {
    case VK_LEFT:
    case VK_UP: return TB_LINEUP;
    case VK_RIGHT:
    case VK_DOWN: return TB_LINEDOWN;
    case VK_PRIOR: return TB_PAGEUP;
    case VK_NEXT: return TB_PAGEDOWN;
    case VK_HOME: return TB_TOP;
    case VK_END: return TB_BOTTOM;
    default: return TB_ENDTRACK;
  }
}

void Paint(HWND hwnd, const Trackbar& bar) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  const RECT client = ClientOf(hwnd);
  FillRect(dc, &client, GetSysColorBrush(COLOR_3DFACE));
  const LONG middle = client.bottom / 2;
  RECT channel = {kMargin - 2, middle - 2, client.right - kMargin + 2, middle + 2};
  HBRUSH track = CreateSolidBrush(RGB(231, 234, 234));
  HBRUSH edge = CreateSolidBrush(RGB(214, 214, 214));
  FillRect(dc, &channel, track);
  FrameRect(dc, &channel, edge);
  const LONG centre = ThumbCentre(hwnd, bar);
  RECT thumb = {centre - kThumbWidth / 2, middle - 10, centre + kThumbWidth / 2 + 1, middle + 10};
  HBRUSH thumbBrush = CreateSolidBrush(IsWindowEnabled(hwnd) ? RGB(0, 122, 217) : RGB(204, 204, 204));
  FillRect(dc, &thumb, thumbBrush);
  if (bar.focused) DrawFocusRect(dc, &client);
  DeleteObject(track);
  DeleteObject(edge);
  DeleteObject(thumbBrush);
  EndPaint(hwnd, &paint);
}

}  // namespace

LRESULT CALLBACK TrackbarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Trackbar& bar = ControlState<Trackbar>(hwnd);
  switch (message) {
    case TBM_GETPOS: return bar.position;
    case TBM_GETRANGEMIN: return bar.minimum;
    case TBM_GETRANGEMAX: return bar.maximum;
    case TBM_GETPAGESIZE: return bar.page;
    case TBM_GETLINESIZE: return bar.line;
    case TBM_SETPOS:
      bar.position = Clamp(bar, static_cast<LONG>(lParam));
      return 0;
    case TBM_SETRANGE:
      bar.minimum = static_cast<short>(LOWORD(lParam));
      bar.maximum = static_cast<short>(HIWORD(lParam));
      bar.page = std::max<LONG>(1, (bar.maximum - bar.minimum) / 5);
      bar.position = Clamp(bar, bar.position);
      return 0;
    case TBM_SETRANGEMIN:
    case TBM_SETRANGEMAX:
      (message == TBM_SETRANGEMIN ? bar.minimum : bar.maximum) = static_cast<LONG>(lParam);
      bar.position = Clamp(bar, bar.position);
      return 0;
    case TBM_SETPAGESIZE:
    case TBM_SETLINESIZE: {
      LONG& size = message == TBM_SETPAGESIZE ? bar.page : bar.line;
      return std::exchange(size, static_cast<LONG>(lParam));
    }
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const LONG x = static_cast<short>(LOWORD(lParam));
      const LONG centre = ThumbCentre(hwnd, bar);
      if (x >= centre - kThumbWidth / 2 && x <= centre + kThumbWidth / 2) bar.dragging = true;
      else Step(hwnd, bar, x < centre ? TB_PAGEUP : TB_PAGEDOWN);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (bar.dragging && (wParam & MK_LBUTTON) != 0) {
        bar.position = PositionAt(hwnd, bar, static_cast<short>(LOWORD(lParam)));
        Scroll(hwnd, TB_THUMBTRACK, bar.position);
      }
      return 0;
    case WM_LBUTTONUP:
      if (bar.dragging) {
        bar.dragging = false;
        bar.position = PositionAt(hwnd, bar, static_cast<short>(LOWORD(lParam)));
        Scroll(hwnd, TB_THUMBPOSITION, bar.position);
      }
      Scroll(hwnd, TB_ENDTRACK, bar.position);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_KEYDOWN: {
      const WORD code = KeyCode(wParam);
      if (code != TB_ENDTRACK) Step(hwnd, bar, code);
      return 0;
    }
    case WM_KEYUP:
      // The end of a move by one of its keys; other keys are not the trackbar's.
      if (KeyCode(wParam) != TB_ENDTRACK) Scroll(hwnd, TB_ENDTRACK, bar.position);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      bar.focused = message == WM_SETFOCUS;
      return 0;
    case WM_PAINT:
      Paint(hwnd, bar);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace tarnlink::win32
