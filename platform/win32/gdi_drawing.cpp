// The drawing calls on device contexts, with Cairo: fills, frames, edges, lines, icons, alpha
// blending and text. Colours follow Windows 10's defaults; "MS Shell Dlg" and the other sans faces
// of dialogs are drawn with Liberation Sans, whose metrics match Arial's.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "win32/errhandlingapi.h"
#include "win32/gdi_state.h"
#include "win32/nt_error.h"

using tarnlink::win32::DeviceContext;
using tarnlink::win32::FindDeviceContext;
using tarnlink::win32::FindGdiObject;
using tarnlink::win32::GdiObject;

namespace {

void SetColor(cairo_t* cr, COLORREF color) {
  cairo_set_source_rgb(cr, GetRValue(color) / 255.0, GetGValue(color) / 255.0,
                       GetBValue(color) / 255.0);
}

std::string Utf8(LPCWSTR text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int Length(LPCWSTR text, int count) {
  if (count >= 0) return count;
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Puts the DC's font on its Cairo context: the dialog faces as Liberation Sans, the height in
// pixels as Windows reads it (negative: the em, positive: the cell).
void ApplyFont(DeviceContext& dc) {
  GdiObject* font = FindGdiObject(dc.font);
  LOGFONTW logical{};
  if (font != nullptr) logical = font->font;
  if (logical.lfHeight == 0) logical.lfHeight = -11;
  double em = logical.lfHeight < 0 ? -logical.lfHeight : logical.lfHeight * 0.87;
  // The dialog faces ("MS Shell Dlg", which Windows draws as Microsoft Sans Serif) set narrower
  // than Arial, whose metrics Liberation Sans has: a slightly smaller size keeps their lines.
  const std::u16string face(logical.lfFaceName);
  if (face.empty() || face.rfind(u"MS Shell Dlg", 0) == 0 || face == u"Microsoft Sans Serif")
    em *= 0.93;
  cairo_select_font_face(dc.cr, "Liberation Sans",
                         logical.lfItalic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         logical.lfWeight >= 600 ? CAIRO_FONT_WEIGHT_BOLD
                                                 : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(dc.cr, em);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(dc.cr, options);
  cairo_font_options_destroy(options);
}

// Fills a rectangle with a colour, in whole pixels.
void Fill(cairo_t* cr, const RECT& r, COLORREF color) {
  SetColor(cr, color);
  cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
  cairo_fill(cr);
}

// One-pixel line from (x0, y0) to (x1, y1), end exclusive, along a row or column.
void Line(cairo_t* cr, LONG x0, LONG y0, LONG x1, LONG y1, COLORREF color) {
  if (y0 == y1) Fill(cr, {std::min(x0, x1), y0, std::max(x0, x1), y0 + 1}, color);
  else Fill(cr, {x0, std::min(y0, y1), x0 + 1, std::max(y0, y1)}, color);
}

COLORREF BrushColor(HBRUSH brush, bool* hollow) {
  *hollow = false;
  const auto value = reinterpret_cast<ULONG_PTR>(brush);
  if (value > 0 && value <= 31) return GetSysColor(static_cast<int>(value - 1));
  GdiObject* object = FindGdiObject(brush);
  if (object == nullptr) {
    *hollow = true;
    return 0;
  }
  *hollow = object->hollow;
  return object->color;
}

// Width of text in the DC's font, in pixels.
double TextWidth(DeviceContext& dc, const std::string& text) {
  cairo_text_extents_t extents;
  cairo_text_extents(dc.cr, text.c_str(), &extents);
  return extents.x_advance;
}

// Draws one line with its cell's top-left corner at (x, y).
void DrawLine(DeviceContext& dc, double x, double y, const std::string& text) {
  cairo_font_extents_t font;
  cairo_font_extents(dc.cr, &font);
  if (dc.backMode == OPAQUE) {
    SetColor(dc.cr, dc.backColor);
    cairo_rectangle(dc.cr, x, y, TextWidth(dc, text), std::ceil(font.ascent + font.descent));
    cairo_fill(dc.cr);
  }
  SetColor(dc.cr, dc.textColor);
  cairo_move_to(dc.cr, x, y + std::round(font.ascent));
  cairo_show_text(dc.cr, text.c_str());
}

}  // namespace

BOOL WINAPI AlphaBlend(HDC hdcDest, int xoriginDest, int yoriginDest, int wDest, int hDest,
                       HDC hdcSrc, int xoriginSrc, int yoriginSrc, int wSrc, int hSrc,
                       BLENDFUNCTION ftn) {
  DeviceContext* dest = FindDeviceContext(hdcDest);
  DeviceContext* source = FindDeviceContext(hdcSrc);
  GdiObject* bitmap = source != nullptr ? FindGdiObject(source->bitmap) : nullptr;
  if (dest == nullptr || bitmap == nullptr || bitmap->kind != GdiObject::Kind::Bitmap ||
      ftn.BlendOp != AC_SRC_OVER || wSrc <= 0 || hSrc <= 0 || xoriginSrc < 0 ||
      yoriginSrc < 0 || xoriginSrc + wSrc > bitmap->width ||
      yoriginSrc + hSrc > bitmap->height)
    return tarnlink::win32::FailWithError(ERROR_INVALID_PARAMETER);
  // The DIB's rows top-down, premultiplied BGRA as Cairo's ARGB32 holds it in memory.
  const cairo_format_t format =
      (ftn.AlphaFormat & AC_SRC_ALPHA) != 0 ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
  cairo_surface_t* image = cairo_image_surface_create(format, bitmap->width, bitmap->height);
  cairo_surface_flush(image);
  BYTE* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  for (LONG row = 0; row < bitmap->height; ++row) {
    const LONG from = bitmap->topDown ? row : bitmap->height - 1 - row;
    std::memcpy(data + row * stride, bitmap->bits.data() + from * bitmap->width * 4,
                static_cast<size_t>(bitmap->width) * 4);
  }
  cairo_surface_mark_dirty(image);
  cairo_save(dest->cr);
  cairo_rectangle(dest->cr, xoriginDest, yoriginDest, wDest, hDest);
  cairo_clip(dest->cr);
  cairo_translate(dest->cr, xoriginDest, yoriginDest);
  cairo_scale(dest->cr, static_cast<double>(wDest) / wSrc, static_cast<double>(hDest) / hSrc);
  cairo_set_source_surface(dest->cr, image, -xoriginSrc, -yoriginSrc);
  cairo_paint_with_alpha(dest->cr, ftn.SourceConstantAlpha / 255.0);
  cairo_restore(dest->cr);
  cairo_surface_destroy(image);
  return TRUE;
}

BOOL WINAPI DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
  DeviceContext* dc = FindDeviceContext(hDC);
  GdiObject* icon = FindGdiObject(hIcon);
  if (dc == nullptr || icon == nullptr || icon->kind != GdiObject::Kind::Icon) return FALSE;
  const int size = GetSystemMetrics(SM_CXICON);
  cairo_save(dc->cr);
  cairo_translate(dc->cr, X, Y);
  cairo_scale(dc->cr, static_cast<double>(size) / icon->width,
              static_cast<double>(size) / icon->height);
  cairo_set_source_surface(dc->cr, icon->image, 0, 0);
  cairo_paint(dc->cr);
  cairo_restore(dc->cr);
  return TRUE;
}

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
  DeviceContext* dc = FindDeviceContext(hDC);
  if (dc == nullptr || lprc == nullptr) return 0;
  bool hollow;
  const COLORREF color = BrushColor(hbr, &hollow);
  if (!hollow) Fill(dc->cr, *lprc, color);
  return 1;
}

int WINAPI FrameRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
  DeviceContext* dc = FindDeviceContext(hDC);
  if (dc == nullptr || lprc == nullptr) return 0;
  bool hollow;
  const COLORREF color = BrushColor(hbr, &hollow);
  if (hollow) return 1;
  const RECT& r = *lprc;
  Line(dc->cr, r.left, r.top, r.right, r.top, color);
  Line(dc->cr, r.left, r.bottom - 1, r.right, r.bottom - 1, color);
  Line(dc->cr, r.left, r.top, r.left, r.bottom, color);
  Line(dc->cr, r.right - 1, r.top, r.right - 1, r.bottom, color);
  return 1;
}

BOOL WINAPI DrawFocusRect(HDC hDC, const RECT* lprc) {
  DeviceContext* dc = FindDeviceContext(hDC);
  if (dc == nullptr || lprc == nullptr) return FALSE;
  // Every other pixel of the outline, inverted against what is below.
  cairo_save(dc->cr);
  cairo_set_operator(dc->cr, CAIRO_OPERATOR_DIFFERENCE);
  cairo_set_source_rgb(dc->cr, 1, 1, 1);
  const RECT& r = *lprc;
  for (LONG x = r.left; x < r.right; x += 2) {
    cairo_rectangle(dc->cr, x, r.top, 1, 1);
    cairo_rectangle(dc->cr, x, r.bottom - 1, 1, 1);
  }
  for (LONG y = r.top + 2; y < r.bottom - 1; y += 2) {
    cairo_rectangle(dc->cr, r.left, y, 1, 1);
    cairo_rectangle(dc->cr, r.right - 1, y, 1, 1);
  }
  cairo_fill(dc->cr);
  cairo_restore(dc->cr);
  return TRUE;
}

BOOL WINAPI DrawEdge(HDC hdc, LPRECT qrc, UINT edge, UINT) {
  DeviceContext* dc = FindDeviceContext(hdc);
  if (dc == nullptr || qrc == nullptr) return FALSE;
  const RECT r = *qrc;
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
  auto frame = [&](RECT f, COLORREF topLeft, COLORREF bottomRight) {
    Line(dc->cr, f.left, f.top, f.right - 1, f.top, topLeft);
    Line(dc->cr, f.left, f.top, f.left, f.bottom - 1, topLeft);
    Line(dc->cr, f.left, f.bottom - 1, f.right, f.bottom - 1, bottomRight);
    Line(dc->cr, f.right - 1, f.top, f.right - 1, f.bottom, bottomRight);
  };
  if (edge == EDGE_ETCHED) {
    frame({r.left, r.top, r.right - 1, r.bottom - 1}, shadow, shadow);
    frame({r.left + 1, r.top + 1, r.right, r.bottom}, light, light);
  } else {
    frame(r, shadow, light);
    frame({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, GetSysColor(21), GetSysColor(22));
  }
  return TRUE;
}

BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  DeviceContext* dc = FindDeviceContext(hdc);
  if (dc == nullptr) return FALSE;
  bool hollow;
  const COLORREF fill = BrushColor(static_cast<HBRUSH>(dc->brush), &hollow);
  if (!hollow) Fill(dc->cr, {left, top, right, bottom}, fill);
  GdiObject* pen = FindGdiObject(dc->pen);
  const COLORREF color = pen != nullptr ? pen->color : 0;
  Line(dc->cr, left, top, right, top, color);
  Line(dc->cr, left, bottom - 1, right, bottom - 1, color);
  Line(dc->cr, left, top, left, bottom, color);
  Line(dc->cr, right - 1, top, right - 1, bottom, color);
  return TRUE;
}

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt) {
  DeviceContext* dc = FindDeviceContext(hdc);
  if (dc == nullptr) return FALSE;
  if (lppt != nullptr) *lppt = dc->position;
  dc->position = {x, y};
  return TRUE;
}

BOOL WINAPI LineTo(HDC hdc, int x, int y) {
  DeviceContext* dc = FindDeviceContext(hdc);
  if (dc == nullptr) return FALSE;
  GdiObject* pen = FindGdiObject(dc->pen);
  Line(dc->cr, dc->position.x, dc->position.y, x, y, pen != nullptr ? pen->color : 0);
  dc->position = {x, y};
  return TRUE;
}

BOOL WINAPI GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, LPSIZE psizl) {
  DeviceContext* dc = FindDeviceContext(hdc);
  if (dc == nullptr || psizl == nullptr || (lpString == nullptr && c > 0)) return FALSE;
  ApplyFont(*dc);
  cairo_font_extents_t font;
  cairo_font_extents(dc->cr, &font);
  psizl->cx = static_cast<LONG>(std::lround(TextWidth(*dc, Utf8(lpString, c))));
  psizl->cy = static_cast<LONG>(std::ceil(font.ascent + font.descent));
  return TRUE;
}

BOOL WINAPI TextOutW(HDC hdc, int x, int y, LPCWSTR lpString, int c) {
  return ExtTextOutW(hdc, x, y, 0, nullptr, lpString, static_cast<UINT>(std::max(c, 0)), nullptr);
}

int WINAPI DrawTextW(HDC hdc, LPCWSTR lpchText, int cchText, LPRECT lprc, UINT format) {
  DeviceContext* dc = FindDeviceContext(hdc);
  if (dc == nullptr || lpchText == nullptr || lprc == nullptr) return 0;
  ApplyFont(*dc);
  const int count = Length(lpchText, cchText);
  // Lines: single, or split at line breaks (and, with DT_WORDBREAK, at spaces to fit).
  std::vector<std::string> lines;
  std::u16string text(lpchText, count);
  if ((format & DT_NOPREFIX) == 0) {
    std::u16string plain;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == u'&' && i + 1 < text.size()) ++i;  // "&&" is one "&"; "&x" underlines x
      plain += text[i];
    }
    text = plain;
  }
  const double width = lprc->right - lprc->left;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = (format & DT_SINGLELINE) != 0 ? text.size() : text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    if ((format & DT_WORDBREAK) != 0 && (format & DT_SINGLELINE) == 0) {
      while (TextWidth(*dc, Utf8(line.data(), static_cast<int>(line.size()))) > width) {
        size_t cut = line.rfind(u' ');
        while (cut != std::u16string::npos && cut > 0 &&
               TextWidth(*dc, Utf8(line.data(), static_cast<int>(cut))) > width)
          cut = line.rfind(u' ', cut - 1);
        if (cut == std::u16string::npos || cut == 0) break;
        lines.push_back(Utf8(line.data(), static_cast<int>(cut)));
        line = line.substr(cut + 1);
      }
    }
    lines.push_back(Utf8(line.data(), static_cast<int>(line.size())));
    if (end == text.size()) break;
    start = end + 1;
  }
  cairo_font_extents_t font;
  cairo_font_extents(dc->cr, &font);
  const double lineHeight = std::ceil(font.ascent + font.descent);
  double y = lprc->top;
  if ((format & DT_SINGLELINE) != 0 && (format & DT_VCENTER) != 0)
    y = lprc->top + std::floor((lprc->bottom - lprc->top - lineHeight) / 2);
  cairo_save(dc->cr);
  cairo_rectangle(dc->cr, lprc->left, lprc->top, lprc->right - lprc->left,
                  lprc->bottom - lprc->top);
  cairo_clip(dc->cr);
  for (const std::string& line : lines) {
    double x = lprc->left;
    if ((format & DT_CENTER) != 0) x += std::floor((width - TextWidth(*dc, line)) / 2);
    DrawLine(*dc, x, y, line);
    y += lineHeight;
  }
  cairo_restore(dc->cr);
  return static_cast<int>(lineHeight * lines.size());
}

BOOL WINAPI ExtTextOutW(HDC hdc, int x, int y, UINT, const RECT*, LPCWSTR lpString, UINT c,
                        const INT*) {
  DeviceContext* dc = FindDeviceContext(hdc);
  if (dc == nullptr || (lpString == nullptr && c > 0)) return FALSE;
  ApplyFont(*dc);
  DrawLine(*dc, x, y, Utf8(lpString, static_cast<int>(c)));
  return TRUE;
}
