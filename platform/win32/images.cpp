// Images: PNG decoding (for GDI+ and for icons) and icons from an image's resources. An icon
// resource holds an icon file whose images are PNG-compressed, as Windows accepts them.
#include <cstring>

#include "win32/errhandlingapi.h"
#include "win32/gdi_state.h"
#include "win32/libloaderapi.h"
#include "win32/nt_error.h"

namespace {

struct PngReader {
  const BYTE* bytes;
  size_t size;
  size_t offset = 0;
};

cairo_status_t ReadPng(void* closure, unsigned char* data, unsigned int length) {
  auto* reader = static_cast<PngReader*>(closure);
  if (reader->size - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, reader->bytes + reader->offset, length);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

uint32_t Le32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
uint16_t Le16(const BYTE* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

namespace tarnlink::win32 {

cairo_surface_t* DecodePng(const BYTE* bytes, size_t size) {
  static const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes == nullptr || size < sizeof kSignature ||
      std::memcmp(bytes, kSignature, sizeof kSignature) != 0)
    return nullptr;
  PngReader reader{bytes, size};
  cairo_surface_t* image = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    return nullptr;
  }
  if (cairo_image_surface_get_format(image) == CAIRO_FORMAT_ARGB32) return image;
  // Everything else becomes ARGB32, so callers see one layout.
  const int width = cairo_image_surface_get_width(image);
  const int height = cairo_image_surface_get_height(image);
  cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(argb);
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(image);
  cairo_surface_flush(argb);
  return argb;
}

}  // namespace tarnlink::win32

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
  HRSRC resource = FindResourceW(hInstance, lpIconName, RT_GROUP_ICON);
  if (resource == nullptr) return nullptr;
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(hInstance, resource)));
  const size_t size = SizeofResource(hInstance, resource);
  // The icon directory: 6 bytes, then 16 per image; take the image closest to 32 pixels.
  if (size < 6 || Le16(bytes + 2) != 1) {
    tarnlink::win32::FailWithError(ERROR_INVALID_DATA);
    return nullptr;
  }
  const size_t count = Le16(bytes + 4);
  const BYTE* best = nullptr;
  int bestDistance = 1 << 30;
  for (size_t i = 0; i < count && 6 + (i + 1) * 16 <= size; ++i) {
    const BYTE* entry = bytes + 6 + i * 16;
    const int width = entry[0] == 0 ? 256 : entry[0];
    const int distance = width > 32 ? width - 32 : 2 * (32 - width);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = entry;
    }
  }
  if (best == nullptr || Le32(best + 12) > size || Le32(best + 8) > size - Le32(best + 12)) {
    tarnlink::win32::FailWithError(ERROR_INVALID_DATA);
    return nullptr;
  }
  cairo_surface_t* image = tarnlink::win32::DecodePng(bytes + Le32(best + 12), Le32(best + 8));
  if (image == nullptr) {
    tarnlink::win32::FailWithError(ERROR_INVALID_DATA);
    return nullptr;
  }
  return tarnlink::win32::CreateIconFromImage(image);
}
