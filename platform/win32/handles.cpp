// Closing handles: the object's close procedure runs (a device file sends its clean-up at the
// last handle and its close at the last reference).
#include "kernel/ob.h"
#include "win32/fileapi.h"
#include "win32/nt_error.h"

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (hObject == NtCurrentProcess() || hObject == NtCurrentThread()) return TRUE;
  const NTSTATUS status = ObCloseHandle(hObject, UserMode);
  return NT_SUCCESS(status) ? TRUE : tarnlink::win32::FailWith(status);
}
