// The GDI+ subset the control panel decodes its PNG logo with: start-up and shut-down, a bitmap
// from a stream, its size, and locking its pixels as 32-bit ARGB. As in the C++ form of the
// system's header, the types live in namespace Gdiplus and the flat functions in
// Gdiplus::DllExports.
#pragma once

#include "win32/objidl.h"
#include "win32/windef.h"

namespace Gdiplus {

enum Status {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
  FileNotFound = 10,
  ValueOverflow = 11,
  AccessDenied = 12,
  UnknownImageFormat = 13,
  FontFamilyNotFound = 14,
  FontStyleNotFound = 15,
  NotTrueTypeFont = 16,
  UnsupportedGdiplusVersion = 17,
  GdiplusNotInitialized = 18,
};
typedef Status GpStatus;

typedef INT PixelFormat;
#define PixelFormat32bppARGB 0x0026200A

enum ImageLockMode {
  ImageLockModeRead = 0x0001,
  ImageLockModeWrite = 0x0002,
  ImageLockModeUserInputBuf = 0x0004,
};

struct GdiplusStartupInput {
  UINT32 GdiplusVersion = 1;
  void* DebugEventCallback = nullptr;
  BOOL SuppressBackgroundThread = FALSE;
  BOOL SuppressExternalCodecs = FALSE;
};
struct GdiplusStartupOutput {
  void* NotificationHook;
  void* NotificationUnhook;
};

class Rect {
 public:
  INT X;
  INT Y;
  INT Width;
  INT Height;
};
typedef Rect GpRect;

class BitmapData {
 public:
  UINT Width;
  UINT Height;
  INT Stride;
  ::Gdiplus::PixelFormat PixelFormat;
  VOID* Scan0;
  UINT_PTR Reserved;
};

class GpImage {};
class GpBitmap : public GpImage {};

Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                             GdiplusStartupOutput* output);
VOID WINAPI GdiplusShutdown(ULONG_PTR token);

namespace DllExports {
GpStatus WINAPI GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap);
GpStatus WINAPI GdipGetImageWidth(GpImage* image, UINT* width);
GpStatus WINAPI GdipGetImageHeight(GpImage* image, UINT* height);
GpStatus WINAPI GdipBitmapLockBits(GpBitmap* bitmap, const GpRect* rect, UINT flags,
                                   PixelFormat format, BitmapData* lockedBitmapData);
GpStatus WINAPI GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* lockedBitmapData);
GpStatus WINAPI GdipDisposeImage(GpImage* image);
}  // namespace DllExports

}  // namespace Gdiplus
