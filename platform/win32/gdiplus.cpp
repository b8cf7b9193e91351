// GDI+ as far as decoding a PNG from a memory stream and reading its 32-bit ARGB pixels, and
// the shell's memory stream that carries the bytes there.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "win32/gdi_state.h"
#include "win32/gdiplus.h"
#include "win32/winerror.h"

namespace {

class MemoryStream final : public IStream {
 public:
  MemoryStream(const BYTE* bytes, UINT size) : bytes_(bytes, bytes + size) {}

  STDMETHODIMP QueryInterface(REFIID, PVOID* object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    const ULONG count = static_cast<ULONG>(std::min<size_t>(cb, bytes_.size() - position_));
    std::memcpy(pv, bytes_.data() + position_, count);
    position_ += count;
    if (pcbRead != nullptr) *pcbRead = count;
    return count == cb ? S_OK : S_FALSE;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                    : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                                                : static_cast<LONGLONG>(bytes_.size());
    const LONGLONG target = base + move.QuadPart;
    if (target < 0) return E_INVALIDARG;
    position_ = std::min<size_t>(static_cast<size_t>(target), bytes_.size());
    if (position != nullptr) position->QuadPart = position_;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return E_POINTER;
    std::memset(stat, 0, sizeof *stat);
    stat->cbSize.QuadPart = bytes_.size();
    return S_OK;
  }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 private:
  ~MemoryStream() = default;
  std::vector<BYTE> bytes_;
  size_t position_ = 0;
  std::atomic<ULONG> references_{1};
};

// A decoded bitmap: straight (not premultiplied) ARGB, as GDI+ hands out PixelFormat32bppARGB.
struct Bitmap : Gdiplus::GpBitmap {
  UINT width = 0;
  UINT height = 0;
  std::vector<BYTE> argb;
  bool locked = false;
};

std::atomic<ULONG> startups{0};

}  // namespace

IStream* WINAPI SHCreateMemStream(const BYTE* pInit, UINT cbInit) {
  if (pInit == nullptr && cbInit != 0) return nullptr;
  return new MemoryStream(pInit, cbInit);
}

namespace Gdiplus {

Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                             GdiplusStartupOutput*) {
  if (token == nullptr || input == nullptr || input->GdiplusVersion != 1) return InvalidParameter;
  *token = ++startups;
  return Ok;
}

VOID WINAPI GdiplusShutdown(ULONG_PTR) {}

namespace DllExports {

GpStatus WINAPI GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap) {
  if (stream == nullptr || bitmap == nullptr) return InvalidParameter;
  if (startups == 0) return GdiplusNotInitialized;
  std::vector<BYTE> bytes;
  BYTE chunk[4096];
  ULONG read = 0;
  do {
    if (FAILED(stream->Read(chunk, sizeof chunk, &read))) return Win32Error;
    bytes.insert(bytes.end(), chunk, chunk + read);
  } while (read == sizeof chunk);
  cairo_surface_t* image = tarnlink::win32::DecodePng(bytes.data(), bytes.size());
  if (image == nullptr) return UnknownImageFormat;
  auto* decoded = new Bitmap;
  decoded->width = static_cast<UINT>(cairo_image_surface_get_width(image));
  decoded->height = static_cast<UINT>(cairo_image_surface_get_height(image));
  decoded->argb.resize(size_t{decoded->width} * decoded->height * 4);
  const BYTE* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  for (UINT y = 0; y < decoded->height; ++y)
    for (UINT x = 0; x < decoded->width; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, data + y * stride + x * 4, 4);
      const uint32_t a = pixel >> 24;
      BYTE* out = decoded->argb.data() + (size_t{y} * decoded->width + x) * 4;
      // Back from Cairo's premultiplied form to straight colour.
      for (int c = 0; c < 3; ++c) {
        const uint32_t v = (pixel >> (8 * c)) & 0xFF;
        out[c] = static_cast<BYTE>(a == 0 ? 0 : std::min<uint32_t>(255, (v * 255 + a / 2) / a));
      }
      out[3] = static_cast<BYTE>(a);
    }
  cairo_surface_destroy(image);
  *bitmap = decoded;
  return Ok;
}

GpStatus WINAPI GdipGetImageWidth(GpImage* image, UINT* width) {
  if (image == nullptr || width == nullptr) return InvalidParameter;
  *width = static_cast<Bitmap*>(image)->width;
  return Ok;
}

GpStatus WINAPI GdipGetImageHeight(GpImage* image, UINT* height) {
  if (image == nullptr || height == nullptr) return InvalidParameter;
  *height = static_cast<Bitmap*>(image)->height;
  return Ok;
}

GpStatus WINAPI GdipBitmapLockBits(GpBitmap* bitmap, const GpRect* rect, UINT flags,
                                   PixelFormat format, BitmapData* data) {
  auto* decoded = static_cast<Bitmap*>(bitmap);
  if (decoded == nullptr || data == nullptr || format != PixelFormat32bppARGB ||
      (flags & ImageLockModeUserInputBuf) != 0)
    return InvalidParameter;
  if (decoded->locked) return WrongState;
  const GpRect all = {0, 0, static_cast<INT>(decoded->width), static_cast<INT>(decoded->height)};
  const GpRect area = rect != nullptr ? *rect : all;
  if (area.X < 0 || area.Y < 0 || area.Width <= 0 || area.Height <= 0 ||
      area.X + area.Width > all.Width || area.Y + area.Height > all.Height)
    return InvalidParameter;
  decoded->locked = true;
  data->Width = static_cast<UINT>(area.Width);
  data->Height = static_cast<UINT>(area.Height);
  data->Stride = static_cast<INT>(decoded->width * 4);
  data->PixelFormat = format;
  data->Scan0 = decoded->argb.data() + (size_t{static_cast<UINT>(area.Y)} * decoded->width +
                                        static_cast<UINT>(area.X)) * 4;
  data->Reserved = 0;
  return Ok;
}

GpStatus WINAPI GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData*) {
  auto* decoded = static_cast<Bitmap*>(bitmap);
  if (decoded == nullptr || !decoded->locked) return WrongState;
  decoded->locked = false;
  return Ok;
}

GpStatus WINAPI GdipDisposeImage(GpImage* image) {
  if (image == nullptr) return InvalidParameter;
  delete static_cast<Bitmap*>(image);
  return Ok;
}

}  // namespace DllExports
}  // namespace Gdiplus
