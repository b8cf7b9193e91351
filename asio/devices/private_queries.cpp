#include "private_queries.h"

#include <cstring>
#include <vector>

#include "asio_trace.h"
#include "asio_trace_points.h"

namespace {

// A product string comes from a USB string descriptor; no honest driver reports one longer than
// a counted string can be, and the second request's buffer is sized from this number.
constexpr ULONG kLongestProductString = 0x7FFF;

}  // namespace

bool QueryDevice(LPCWSTR path, DWORD code, const void* input, DWORD inputBytes, void* output,
                 DWORD outputBytes, DWORD* returned, DWORD* error) {
  *returned = 0;
  HANDLE device = CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    AsioTrace(kTraceDeviceOpenFailed, *error);
    return false;
  }
  const BOOL ok = DeviceIoControl(device, code, const_cast<void*>(input), inputBytes, output,
                                  outputBytes, returned, nullptr);
  *error = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(device);
  if (!ok) AsioTrace(kTraceDeviceRequestFailed, code, *error);
  return ok != FALSE;
}

bool QueryFixed(LPCWSTR path, DWORD code, void* reply, DWORD replyBytes) {
  DWORD returned = 0;
  DWORD error = 0;
  return QueryDevice(path, code, nullptr, 0, reply, replyBytes, &returned, &error) &&
         returned == replyBytes;
}

bool QueryProductString(LPCWSTR path, WCHAR* text, DWORD units) {
  // The first reply holds the length and a terminator; a cut reply (more data) still carries
  // the length.
  alignas(ProductStringReply) BYTE head[ASIO_PRODUCT_STRING_MIN_BYTES] = {};
  DWORD returned = 0;
  DWORD error = 0;
  const bool whole = QueryDevice(path, IOCTL_ASIO_GET_PRODUCT_STRING, nullptr, 0, head,
                                 sizeof head, &returned, &error);
  if (whole ? returned != sizeof head : error != ERROR_MORE_DATA) return false;
  ULONG length = 0;
  std::memcpy(&length, head, sizeof length);
  if (length > kLongestProductString) {
    AsioTrace(kTraceDeviceDropped, length);
    return false;
  }
  const DWORD replyBytes = length * sizeof(WCHAR) + ASIO_PRODUCT_STRING_MIN_BYTES;
  std::vector<BYTE> reply(replyBytes);
  if (!QueryDevice(path, IOCTL_ASIO_GET_PRODUCT_STRING, nullptr, 0, reply.data(), replyBytes,
                   &returned, &error) ||
      returned != replyBytes)
    return false;
  const DWORD copied = length < units - 1 ? length : units - 1;
  std::memcpy(text, reply.data() + offsetof(ProductStringReply, text), copied * sizeof(WCHAR));
  text[copied] = 0;
  return true;
}
