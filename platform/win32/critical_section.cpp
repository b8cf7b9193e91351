// Critical sections: a recursive kernel mutex behind each, owned by the entering thread. The
// published fields are kept as Windows keeps them, for code that looks at the owner.
#include "kernel/ke.h"
#include "kernel/ps.h"
#include "win32/synchapi.h"

namespace {

PKMUTEX LockOf(LPCRITICAL_SECTION section) {
  return static_cast<PKMUTEX>(section->LockSemaphore);
}

void Entered(LPCRITICAL_SECTION section) {
  ++section->RecursionCount;
  section->OwningThread = PsGetCurrentThreadId();
}

}  // namespace

VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  auto* mutex = new KMUTEX;
  KeInitializeMutex(mutex, 0);
  *lpCriticalSection = {};
  lpCriticalSection->LockCount = -1;
  lpCriticalSection->LockSemaphore = mutex;
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                  DWORD dwSpinCount) {
  InitializeCriticalSection(lpCriticalSection);
  lpCriticalSection->SpinCount = dwSpinCount;
  return TRUE;
}

VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  KeWaitForSingleObject(LockOf(lpCriticalSection), UserRequest, UserMode, FALSE, nullptr);
  Entered(lpCriticalSection);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  LARGE_INTEGER now = {};
  if (KeWaitForSingleObject(LockOf(lpCriticalSection), UserRequest, UserMode, FALSE, &now) ==
      STATUS_TIMEOUT)
    return FALSE;
  Entered(lpCriticalSection);
  return TRUE;
}

VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (--lpCriticalSection->RecursionCount == 0) lpCriticalSection->OwningThread = nullptr;
  KeReleaseMutex(LockOf(lpCriticalSection), FALSE);
}

VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  delete LockOf(lpCriticalSection);
  *lpCriticalSection = {};
}
