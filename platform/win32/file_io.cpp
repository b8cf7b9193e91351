// Device files: CreateFileW opens a device through the I/O manager as a user-mode caller, and
// DeviceIoControl sends requests the way kernel32 does, with its rules for the byte count and
// the last error of synchronous, overlapped and failed requests.
#include <string>

#include "kernel/device_object_host.h"
#include "kernel/file_object_host.h"
#include "kernel/io_file_api.h"
#include "kernel/ke.h"
#include "win32/errhandlingapi.h"
#include "win32/fileapi.h"
#include "win32/nt_error.h"
#include "win32/synchapi.h"
#include "win32/win32_state.h"

using tarnlink::win32::FailWith;
using tarnlink::win32::FailWithError;

namespace {

// "\\?\X" and "\\.\X" name X in the DOS devices directory, \??\X.
std::u16string NtPath(std::u16string_view path) {
  if (path.size() >= 4 && path[0] == u'\\' && path[1] == u'\\' &&
      (path[2] == u'?' || path[2] == u'.') && path[3] == u'\\')
    return u"\\??\\" + std::u16string(path.substr(4));
  return u"\\??\\" + std::u16string(path);
}

constexpr ULONG kNoDisposition = 0xFFFFFFFF;

ULONG CreateDispositionOf(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW:
      return FILE_CREATE;
    case CREATE_ALWAYS:
      return 0x00000005;  // FILE_OVERWRITE_IF
    case OPEN_EXISTING:
      return FILE_OPEN;
    case OPEN_ALWAYS:
      return FILE_OPEN_IF;
    case TRUNCATE_EXISTING:
      return 0x00000004;  // FILE_OVERWRITE
    default:
      return kNoDisposition;
  }
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
  const ULONG disposition = CreateDispositionOf(dwCreationDisposition);
  if (lpFileName == nullptr || disposition == kNoDisposition) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string path = NtPath(lpFileName);
  UNICODE_STRING name = {static_cast<USHORT>(path.size() * sizeof(WCHAR)),
                         static_cast<USHORT>(path.size() * sizeof(WCHAR)), path.data()};
  ULONG attributes = OBJ_CASE_INSENSITIVE;
  if (lpSecurityAttributes != nullptr && lpSecurityAttributes->bInheritHandle)
    attributes |= OBJ_INHERIT;
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &name, attributes, nullptr, nullptr);
  ULONG options = FILE_NON_DIRECTORY_FILE;
  if ((dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) == 0) options |= FILE_SYNCHRONOUS_IO_NONALERT;
  HANDLE handle = nullptr;
  IO_STATUS_BLOCK iosb = {};
  const NTSTATUS status = NtCreateFile(
      &handle, dwDesiredAccess | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &object, &iosb, nullptr,
      dwFlagsAndAttributes & 0xFFFF, dwShareMode, disposition, options, nullptr, 0);
  if (!NT_SUCCESS(status)) {
    FailWith(status);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
  if (lpOverlapped != nullptr) {
    // The request's I/O status block is the OVERLAPPED's first two words.
    lpOverlapped->Internal = static_cast<ULONG_PTR>(STATUS_PENDING);
    auto* iosb = reinterpret_cast<PIO_STATUS_BLOCK>(&lpOverlapped->Internal);
    const NTSTATUS status = NtDeviceIoControlFile(
        hDevice, lpOverlapped->hEvent, nullptr, nullptr, iosb, dwIoControlCode, lpInBuffer,
        nInBufferSize, lpOutBuffer, nOutBufferSize);
    if (NT_SUCCESS(status) && status != STATUS_PENDING) {
      if (lpBytesReturned != nullptr) *lpBytesReturned = static_cast<DWORD>(iosb->Information);
      return TRUE;
    }
    return FailWith(status);  // STATUS_PENDING becomes ERROR_IO_PENDING
  }
  IO_STATUS_BLOCK iosb = {};
  NTSTATUS status =
      NtDeviceIoControlFile(hDevice, nullptr, nullptr, nullptr, &iosb, dwIoControlCode,
                            lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize);
  if (status == STATUS_PENDING) {
    // A file opened for overlapped I/O used without an OVERLAPPED: wait for the file itself.
    if (WaitForSingleObject(hDevice, INFINITE) == WAIT_FAILED) return FALSE;
    status = iosb.Status;
  }
  // A warning (a buffer too small for all the data) still reports the bytes that were copied.
  if (lpBytesReturned != nullptr && !NT_ERROR(status))
    *lpBytesReturned = static_cast<DWORD>(iosb.Information);
  if (NT_SUCCESS(status)) return TRUE;
  return FailWith(status);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  if (lpOverlapped == nullptr || lpNumberOfBytesTransferred == nullptr)
    return FailWithError(ERROR_INVALID_PARAMETER);
  if (static_cast<NTSTATUS>(lpOverlapped->Internal) == STATUS_PENDING) {
    if (!bWait) return FailWithError(ERROR_IO_INCOMPLETE);
    HANDLE waitable = lpOverlapped->hEvent != nullptr ? lpOverlapped->hEvent : hFile;
    if (WaitForSingleObject(waitable, INFINITE) == WAIT_FAILED) return FALSE;
  }
  *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
  const auto status = static_cast<NTSTATUS>(lpOverlapped->Internal);
  if (NT_SUCCESS(status)) return TRUE;
  return FailWith(status);
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  IO_STATUS_BLOCK iosb = {};
  const NTSTATUS status = NtCancelIoFile(hFile, &iosb);
  return NT_SUCCESS(status) ? TRUE : FailWith(status);
}

BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped) {
  IO_STATUS_BLOCK iosb = {};
  const NTSTATUS status =
      NtCancelIoFileEx(hFile, reinterpret_cast<PIO_STATUS_BLOCK>(lpOverlapped), &iosb);
  return NT_SUCCESS(status) ? TRUE : FailWith(status);
}

BOOL WINAPI GetDevicePowerState(HANDLE hDevice, BOOL* pfOn) {
  if (pfOn == nullptr) return FailWithError(ERROR_INVALID_PARAMETER);
  PVOID object = nullptr;
  const NTSTATUS status =
      ObReferenceObjectByHandle(hDevice, 0, *IoFileObjectType, UserMode, &object, nullptr);
  if (!NT_SUCCESS(status)) return FailWith(status);
  tarnlink::win32::State& state = tarnlink::win32::MachineState();
  bool on = true;
  {
    std::lock_guard guard(state.lock);
    for (PDEVICE_OBJECT device = static_cast<PFILE_OBJECT>(object)->DeviceObject;
         device != nullptr; device = device->DeviceObjectExtension->AttachedTo)
      if (state.devicesOff.count(device) != 0) on = false;
  }
  ObDereferenceObject(object);
  *pfOn = on ? TRUE : FALSE;
  return TRUE;
}

namespace tarnlink::win32 {

void SetDevicePower(PVOID deviceObject, bool on) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  if (on)
    state.devicesOff.erase(deviceObject);
  else
    state.devicesOff[deviceObject] = true;
}

}  // namespace tarnlink::win32
