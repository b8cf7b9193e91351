#include "logo.h"

#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

void PremultiplyPixel(const BYTE* argb, BYTE* bgra) {
  // PixelFormat32bppARGB in memory is B, G, R, A.
  const unsigned alpha = argb[3];
  for (int c = 0; c < 3; ++c)
    bgra[c] = alpha < 255 ? static_cast<BYTE>((argb[c] * alpha + 127) / 255) : argb[c];
  bgra[3] = static_cast<BYTE>(alpha);
}

CLogo::~CLogo() {
  if (bitmap_ != nullptr) DeleteObject(bitmap_);
}

bool CLogo::Load(HINSTANCE instance, WORD resource) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resource), WSTR("PNG"));
  const BYTE* bytes =
      found != nullptr ? static_cast<const BYTE*>(LockResource(LoadResource(instance, found)))
                       : nullptr;
  if (bytes == nullptr) {
    AsioTrace(kTraceCplLogoFailed, 1);
    return false;
  }
  IStream* stream = SHCreateMemStream(bytes, SizeofResource(instance, found));
  if (stream == nullptr) {
    AsioTrace(kTraceCplLogoFailed, 2);
    return false;
  }
  GpBitmap* image = nullptr;
  const GpStatus decoded = GdipCreateBitmapFromStream(stream, &image);
  stream->Release();
  if (decoded != Ok) {
    AsioTrace(kTraceCplLogoFailed, 3, decoded);
    return false;
  }
  UINT width = 0;
  UINT height = 0;
  GdipGetImageWidth(image, &width);
  GdipGetImageHeight(image, &height);
  BitmapData data{};
  GpRect all = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  bool loaded = false;
  if (width > 0 && height > 0 &&
      GdipBitmapLockBits(image, &all, ImageLockModeRead, PixelFormat32bppARGB, &data) == Ok) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (bitmap_ != nullptr) {
      auto* out = static_cast<BYTE*>(bits_);
      for (UINT y = 0; y < height; ++y) {
        const BYTE* row = static_cast<const BYTE*>(data.Scan0) + static_cast<size_t>(y) * data.Stride;
        for (UINT x = 0; x < width; ++x)
          PremultiplyPixel(row + x * 4, out + (static_cast<size_t>(y) * width + x) * 4);
      }
      width_ = static_cast<LONG>(width);
      height_ = static_cast<LONG>(height);
      loaded = true;
    }
    GdipBitmapUnlockBits(image, &data);
  }
  GdipDisposeImage(image);
  if (!loaded) AsioTrace(kTraceCplLogoFailed, 4);
  return loaded;
}

void CLogo::Draw(HDC dc, const RECT& area) const {
  if (bitmap_ == nullptr) return;
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ previous = SelectObject(memory, bitmap_);
  const LONG x = area.left + (area.right - area.left - width_) / 2;
  const LONG y = area.top + (area.bottom - area.top - height_) / 2;
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(dc, x, y, width_, height_, memory, 0, 0, width_, height_, blend);
  SelectObject(memory, previous);
  DeleteDC(memory);
}
