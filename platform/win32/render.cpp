// Rendering a top-level window to a PNG file as Windows 10 shows it: a light frame with the
// caption (small icon, title, minimise and close buttons), then the client area and every
// visible child, each painted by its own window procedure through GDI onto one Cairo surface,
// and last the list of an open combo box, which lies above everything and may reach past the
// window's edge (the picture then grows to hold it, transparent around the window).
#include <cairo.h>

#include <algorithm>
#include <vector>

#include "win32/controls.h"
#include "win32/gdi_state.h"
#include "win32/user_input.h"

namespace tarnlink::win32 {
namespace {

// Paints the window through its procedure, its client origin at (x, y) on the surface; the
// drawing is clipped to its client area unless reach says how far down it may go.
void Paint(HWND window, cairo_surface_t* surface, double x, double y, LONG reach = 0) {
  const RECT client = ClientOf(window);
  auto target = std::make_shared<PaintTarget>(
      PaintTarget{surface, x, y, static_cast<double>(client.right),
                  static_cast<double>(std::max(client.bottom, reach))});
  {
    State& state = MachineState();
    std::lock_guard guard(state.lock);
    Windows(state).paintTargets[window] = target;
  }
  SendMessageW(window, WM_PAINT, 0, 0);
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  Windows(state).paintTargets.erase(window);
}

// An open combo box where it lies on the picture, and its list's rectangle in its client
// coordinates.
struct OpenList {
  HWND combo;
  double x;
  double y;
  RECT list;
};

void FindOpenLists(HWND window, double x, double y, std::vector<OpenList>* lists) {
  for (HWND child : ChildrenOf(window)) {
    Window record;
    if (!IsWindowVisible(child) || !CopyWindowRecord(child, &record)) continue;
    const double childX = x + record.rect.left;
    const double childY = y + record.rect.top;
    RECT list;
    if (OpenComboList(child, &list)) lists->push_back({child, childX, childY, list});
    FindOpenLists(child, childX, childY, lists);
  }
}

void PaintTree(HWND window, cairo_surface_t* surface, double x, double y) {
  Paint(window, surface, x, y);
  for (HWND child : ChildrenOf(window)) {
    if (!IsWindowVisible(child)) continue;
    Window record;
    if (!CopyWindowRecord(child, &record)) continue;
    PaintTree(child, surface, x + record.rect.left, y + record.rect.top);
  }
}

void DrawFrame(HWND window, cairo_t* cr, double width, double frameX, double frameY) {
  const double height = frameY;
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_fill(cr);
  Window record;
  CopyWindowRecord(window, &record);
  double textX = frameX + 8;
  HICON icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
  if (icon == nullptr) icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_BIG, 0));
  if (icon != nullptr) {
    PaintTarget target{cairo_get_target(cr), 0, 0, width, height};
    HDC dc = CreateWindowDC(nullptr, &target);
    // DrawIcon draws at the large size; the caption shows it small.
    cairo_surface_t* small = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 32);
    PaintTarget scratch{small, 0, 0, 32, 32};
    HDC iconDc = CreateWindowDC(nullptr, &scratch);
    DrawIcon(iconDc, 0, 0, icon);
    DeleteDC(iconDc);
    cairo_save(cr);
    cairo_translate(cr, frameX + 5, (height - 16) / 2);
    cairo_scale(cr, 0.5, 0.5);
    cairo_set_source_surface(cr, small, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(small);
    DeleteDC(dc);
    textX = frameX + 29;
  }
  // The title in the caption font (9 points).
  LOGFONTW font{};
  font.lfHeight = -12;
  font.lfWeight = FW_NORMAL;
  HFONT captionFont = CreateFontIndirectW(&font);
  PaintTarget target{cairo_get_target(cr), 0, 0, width, height};
  HDC dc = CreateWindowDC(nullptr, &target);
  SelectObject(dc, captionFont);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  RECT title = {static_cast<LONG>(textX), 0, static_cast<LONG>(width - 92), static_cast<LONG>(height)};
  DrawTextW(dc, record.text.c_str(), -1, &title, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  DeleteDC(dc);
  DeleteObject(captionFont);
  // Minimise and close glyphs, 46 pixels apart at the right.
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 1);
  const double cy = height / 2;
  if ((record.style & WS_MINIMIZEBOX) != 0) {
    cairo_move_to(cr, width - 46 - 23 - 5, cy + 0.5);
    cairo_line_to(cr, width - 46 - 23 + 5, cy + 0.5);
  }
  cairo_move_to(cr, width - 23 - 5, cy - 5);
  cairo_line_to(cr, width - 23 + 5, cy + 5);
  cairo_move_to(cr, width - 23 + 5, cy - 5);
  cairo_line_to(cr, width - 23 - 5, cy + 5);
  cairo_stroke(cr);
}

}  // namespace

bool RenderWindow(HWND window, const std::string& pngPath) {
  RECT whole{};
  RECT client{};
  if (!GetWindowRect(window, &whole) || !GetClientRect(window, &client)) return false;
  const int width = whole.right - whole.left;
  const int height = whole.bottom - whole.top;
  const double frameX = (width - client.right) / 2.0;
  const double frameY = height - client.bottom - frameX;
  std::vector<OpenList> lists;
  FindOpenLists(window, frameX, frameY, &lists);
  double pictureWidth = width;
  double pictureHeight = height;
  for (const OpenList& open : lists) {
    pictureWidth = std::max(pictureWidth, open.x + open.list.right);
    pictureHeight = std::max(pictureHeight, open.y + open.list.bottom);
  }
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(pictureWidth), static_cast<int>(pictureHeight));
  cairo_t* cr = cairo_create(surface);
  // The border: one pixel of a soft grey around everything.
  cairo_set_source_rgb(cr, 0.67, 0.67, 0.67);
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_fill(cr);
  if (frameY > 0) DrawFrame(window, cr, width, frameX, frameY);
  cairo_destroy(cr);
  PaintTree(window, surface, frameX, frameY);
  // The combo box paints itself again, now with room for its list above the rest.
  for (const OpenList& open : lists) Paint(open.combo, surface, open.x, open.y, open.list.bottom);
  cairo_surface_flush(surface);
  const bool written = cairo_surface_write_to_png(surface, pngPath.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return written;
}

}  // namespace tarnlink::win32
