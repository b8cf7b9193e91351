// GDI's records for one machine: objects (brushes, pens, fonts, bitmaps, icons) and device
// contexts, all drawing with Cairo. A window's device context draws into the surface the window
// is being rendered to, or into a scratch surface when it is not. Host side.
#pragma once

#include <cairo.h>

#include <map>
#include <memory>
#include <vector>

#include "win32/win32_state.h"
#include "win32/wingdi.h"
#include "win32/winuser.h"

namespace tarnlink::win32 {

struct GdiObject {
  enum class Kind { Brush, Pen, Font, Bitmap, Icon } kind = Kind::Brush;
  bool stock = false;
  bool hollow = false;  // NULL_BRUSH
  COLORREF color = 0;
  LOGFONTW font{};
  // Bitmap: the DIB's bits in its own row order; icon: the image.
  std::vector<BYTE> bits;
  LONG width = 0;
  LONG height = 0;
  bool topDown = false;
  cairo_surface_t* image = nullptr;  // icon
  ~GdiObject();
};

// Where a window's drawing lands while it is rendered: the surface, the window's client origin
// on it, and the client area's size (drawing is clipped to it).
struct PaintTarget {
  cairo_surface_t* surface = nullptr;
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct DeviceContext {
  cairo_t* cr = nullptr;
  cairo_surface_t* scratch = nullptr;  // owned when the DC draws nowhere
  HWND window = nullptr;
  HGDIOBJ font = nullptr;
  HGDIOBJ brush = nullptr;
  HGDIOBJ pen = nullptr;
  HGDIOBJ bitmap = nullptr;  // a memory DC's selected bitmap
  COLORREF textColor = 0;
  COLORREF backColor = RGB(255, 255, 255);
  int backMode = OPAQUE;
  POINT position{};
  ~DeviceContext();
};

struct Gdi {
  std::map<HGDIOBJ, std::unique_ptr<GdiObject>> objects;
  std::map<HDC, std::unique_ptr<DeviceContext>> contexts;
  std::map<int, HGDIOBJ> stock;  // by stock index, and system colour brushes by -1 - index
  ULONG_PTR next = 0x3A0000;
};

// The machine's GDI; the caller holds the state's lock.
Gdi& GdiOf(State& state);
// The object or device context behind a handle, or null; each takes the state's lock.
GdiObject* FindGdiObject(HGDIOBJ handle);
DeviceContext* FindDeviceContext(HDC handle);
// A device context drawing into target (or nowhere when target is null) for window.
HDC CreateWindowDC(HWND window, const PaintTarget* target);
// Decodes PNG bytes into a premultiplied ARGB32 image; null when they are no PNG.
cairo_surface_t* DecodePng(const BYTE* bytes, size_t size);
// An icon made from an image (the icon takes the reference).
HICON CreateIconFromImage(cairo_surface_t* image);

}  // namespace tarnlink::win32
