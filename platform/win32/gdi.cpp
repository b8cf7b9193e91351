// GDI objects (brushes, pens, fonts, bitmaps, icons), the system colours and device contexts.
// The drawing calls on them are in gdi_drawing.cpp.
#include <cstring>
#include <utility>
#include <string>

#include "win32/errhandlingapi.h"
#include "win32/gdi_state.h"
#include "win32/nt_error.h"
#include "win32/window_system.h"

using tarnlink::win32::DeviceContext;
using tarnlink::win32::FindDeviceContext;
using tarnlink::win32::FindGdiObject;
using tarnlink::win32::Gdi;
using tarnlink::win32::GdiObject;
using tarnlink::win32::State;

namespace tarnlink::win32 {

GdiObject::~GdiObject() {
  if (image != nullptr) cairo_surface_destroy(image);
}

DeviceContext::~DeviceContext() {
  if (cr != nullptr) cairo_destroy(cr);
  if (scratch != nullptr) cairo_surface_destroy(scratch);
}

Gdi& GdiOf(State& state) {
  if (state.gdi == nullptr) state.gdi = std::make_shared<Gdi>();
  return *state.gdi;
}

GdiObject* FindGdiObject(HGDIOBJ handle) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  Gdi& gdi = GdiOf(state);
  auto it = gdi.objects.find(handle);
  return it != gdi.objects.end() ? it->second.get() : nullptr;
}

DeviceContext* FindDeviceContext(HDC handle) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  Gdi& gdi = GdiOf(state);
  auto it = gdi.contexts.find(handle);
  return it != gdi.contexts.end() ? it->second.get() : nullptr;
}

}  // namespace tarnlink::win32

namespace {

// Keys of the stock objects a new device context starts with.
constexpr int kSystemFontKey = 1000;
constexpr int kWhiteBrushKey = 1001;
constexpr int kBlackPenKey = 1002;

Gdi& TheGdi() { return tarnlink::win32::GdiOf(tarnlink::win32::MachineState()); }

HGDIOBJ Insert(std::unique_ptr<GdiObject> object) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  Gdi& gdi = TheGdi();
  auto handle = reinterpret_cast<HGDIOBJ>(gdi.next);
  gdi.next += 4;
  gdi.objects[handle] = std::move(object);
  return handle;
}

// A stock object, made once per machine.
HGDIOBJ Stock(int key, GdiObject::Kind kind, COLORREF color, bool hollow = false) {
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    auto it = TheGdi().stock.find(key);
    if (it != TheGdi().stock.end()) return it->second;
  }
  auto object = std::make_unique<GdiObject>();
  object->kind = kind;
  object->stock = true;
  object->color = color;
  object->hollow = hollow;
  if (kind == GdiObject::Kind::Font) {
    object->font.lfHeight = -11;
    object->font.lfWeight = FW_NORMAL;
    std::u16string face = u"MS Shell Dlg";
    face.copy(object->font.lfFaceName, face.size());
  }
  HGDIOBJ handle = Insert(std::move(object));
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  TheGdi().stock[key] = handle;
  return handle;
}

}  // namespace

namespace tarnlink::win32 {

HDC CreateWindowDC(HWND window, const PaintTarget* target) {
  auto dc = std::make_unique<DeviceContext>();
  dc->window = window;
  if (target != nullptr && target->surface != nullptr) {
    dc->cr = cairo_create(target->surface);
    cairo_translate(dc->cr, target->x, target->y);
    cairo_rectangle(dc->cr, 0, 0, target->width, target->height);
    cairo_clip(dc->cr);
  } else {
    dc->scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    dc->cr = cairo_create(dc->scratch);
  }
  dc->font = Stock(kSystemFontKey, GdiObject::Kind::Font, 0);
  dc->brush = Stock(kWhiteBrushKey, GdiObject::Kind::Brush, RGB(255, 255, 255));
  dc->pen = Stock(kBlackPenKey, GdiObject::Kind::Pen, 0);
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  Gdi& gdi = GdiOf(state);
  auto handle = reinterpret_cast<HDC>(gdi.next);
  gdi.next += 4;
  gdi.contexts[handle] = std::move(dc);
  return handle;
}

HICON CreateIconFromImage(cairo_surface_t* image) {
  auto icon = std::make_unique<GdiObject>();
  icon->kind = GdiObject::Kind::Icon;
  icon->image = image;
  icon->width = cairo_image_surface_get_width(image);
  icon->height = cairo_image_surface_get_height(image);
  return static_cast<HICON>(Insert(std::move(icon)));
}

}  // namespace tarnlink::win32

DWORD WINAPI GetSysColor(int nIndex) {
  switch (nIndex) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT: return RGB(0, 120, 215);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(240, 240, 240);
    case COLOR_BTNSHADOW: return RGB(160, 160, 160);
    case COLOR_GRAYTEXT: return RGB(109, 109, 109);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    case 21: return RGB(105, 105, 105);  // COLOR_3DDKSHADOW
    case 22: return RGB(227, 227, 227);  // COLOR_3DLIGHT
    default: return 0;
  }
}

HBRUSH WINAPI GetSysColorBrush(int nIndex) {
  return static_cast<HBRUSH>(Stock(-1 - nIndex, GdiObject::Kind::Brush, GetSysColor(nIndex)));
}

HGDIOBJ WINAPI GetStockObject(int i) {
  if (i == DEFAULT_GUI_FONT) return Stock(i, GdiObject::Kind::Font, 0);
  if (i == NULL_BRUSH) return Stock(i, GdiObject::Kind::Brush, 0, true);
  return nullptr;
}

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* lplf) {
  if (lplf == nullptr) return nullptr;
  auto font = std::make_unique<GdiObject>();
  font->kind = GdiObject::Kind::Font;
  font->font = *lplf;
  return static_cast<HFONT>(Insert(std::move(font)));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  auto brush = std::make_unique<GdiObject>();
  brush->color = color;
  return static_cast<HBRUSH>(Insert(std::move(brush)));
}

HPEN WINAPI CreatePen(int, int, COLORREF color) {
  auto pen = std::make_unique<GdiObject>();
  pen->kind = GdiObject::Kind::Pen;
  pen->color = color;
  return static_cast<HPEN>(Insert(std::move(pen)));
}

int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv) {
  GdiObject* object = FindGdiObject(h);
  if (object == nullptr) return 0;
  if (object->kind == GdiObject::Kind::Font) {
    if (pv == nullptr) return sizeof(LOGFONTW);
    if (c < static_cast<int>(sizeof(LOGFONTW))) return 0;
    std::memcpy(pv, &object->font, sizeof(LOGFONTW));
    return sizeof(LOGFONTW);
  }
  return 0;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  Gdi& gdi = TheGdi();
  auto it = gdi.objects.find(ho);
  if (it == gdi.objects.end()) return FALSE;
  if (!it->second->stock) gdi.objects.erase(it);
  return TRUE;
}

BOOL WINAPI DestroyIcon(HICON hIcon) { return DeleteObject(hIcon); }

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  DeviceContext* dc = FindDeviceContext(hdc);
  GdiObject* object = FindGdiObject(h);
  if (dc == nullptr || object == nullptr) return nullptr;
  switch (object->kind) {
    case GdiObject::Kind::Font:
      return std::exchange(dc->font, h);
    case GdiObject::Kind::Brush:
      return std::exchange(dc->brush, h);
    case GdiObject::Kind::Pen:
      return std::exchange(dc->pen, h);
    case GdiObject::Kind::Bitmap:
      return std::exchange(dc->bitmap, h);
    case GdiObject::Kind::Icon:
      return nullptr;
  }
  return nullptr;
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
  DeviceContext* dc = FindDeviceContext(hdc);
  return dc != nullptr ? std::exchange(dc->textColor, color) : CLR_INVALID;
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
  DeviceContext* dc = FindDeviceContext(hdc);
  return dc != nullptr ? std::exchange(dc->backColor, color) : CLR_INVALID;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
  DeviceContext* dc = FindDeviceContext(hdc);
  return dc != nullptr ? std::exchange(dc->backMode, mode) : 0;
}

HDC WINAPI CreateCompatibleDC(HDC) { return tarnlink::win32::CreateWindowDC(nullptr, nullptr); }

BOOL WINAPI DeleteDC(HDC hdc) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  return TheGdi().contexts.erase(hdc) != 0 ? TRUE : FALSE;
}

HBITMAP WINAPI CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, VOID** ppvBits, HANDLE,
                                DWORD) {
  if (pbmi == nullptr || usage != DIB_RGB_COLORS || pbmi->bmiHeader.biBitCount != 32 ||
      pbmi->bmiHeader.biCompression != BI_RGB || pbmi->bmiHeader.biWidth <= 0 ||
      pbmi->bmiHeader.biHeight == 0) {
    tarnlink::win32::FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto bitmap = std::make_unique<GdiObject>();
  bitmap->kind = GdiObject::Kind::Bitmap;
  bitmap->width = pbmi->bmiHeader.biWidth;
  bitmap->topDown = pbmi->bmiHeader.biHeight < 0;
  bitmap->height = bitmap->topDown ? -pbmi->bmiHeader.biHeight : pbmi->bmiHeader.biHeight;
  bitmap->bits.assign(static_cast<size_t>(bitmap->width) * bitmap->height * 4, 0);
  if (ppvBits != nullptr) *ppvBits = bitmap->bits.data();
  return static_cast<HBITMAP>(Insert(std::move(bitmap)));
}
