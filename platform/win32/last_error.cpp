#include "kernel/status_to_dos.h"
#include "win32/errhandlingapi.h"
#include "win32/nt_error.h"
#include "win32/win32_state.h"

DWORD WINAPI GetLastError() {
  return tarnlink::win32::CurrentThreadRecord().lastError;
}

VOID WINAPI SetLastError(DWORD dwErrCode) {
  tarnlink::win32::CurrentThreadRecord().lastError = dwErrCode;
}

namespace tarnlink::win32 {

BOOL FailWith(NTSTATUS Status) {
  SetLastError(RtlNtStatusToDosError(Status));
  return FALSE;
}

BOOL FailWithError(DWORD Error) {
  SetLastError(Error);
  return FALSE;
}

}  // namespace tarnlink::win32
