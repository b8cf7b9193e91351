// Events, mutexes and semaphores: kernel dispatcher objects behind process handles.
#include "kernel/ke.h"
#include "kernel/ob.h"
#include "win32/errhandlingapi.h"
#include "win32/named_objects.h"
#include "win32/nt_error.h"
#include "win32/synchapi.h"

using tarnlink::win32::CreateNamedObject;
using tarnlink::win32::FailWith;
using tarnlink::win32::MutantType;
using tarnlink::win32::OpenNamedObject;
using tarnlink::win32::ReferenceHandle;

namespace {

// Runs Change on the referenced object behind Handle; FALSE with the last error when the
// handle is not one of Type with Access.
template <typename Body, typename Change>
BOOL WithObject(HANDLE Handle, POBJECT_TYPE Type, ACCESS_MASK Access, Change change) {
  PVOID object = ReferenceHandle(Handle, Type, Access);
  if (object == nullptr) return FALSE;
  const BOOL result = change(static_cast<Body*>(object));
  ObDereferenceObject(object);
  return result;
}

}  // namespace

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCWSTR lpName) {
  bool created;
  return CreateNamedObject(
      *ExEventObjectType, sizeof(KEVENT), EVENT_ALL_ACCESS, lpEventAttributes, lpName,
      [&](PVOID body) {
        KeInitializeEvent(static_cast<PKEVENT>(body),
                          bManualReset ? NotificationEvent : SynchronizationEvent,
                          bInitialState ? TRUE : FALSE);
      },
      &created);
}

HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return OpenNamedObject(*ExEventObjectType, dwDesiredAccess, bInheritHandle, lpName);
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  return WithObject<KEVENT>(hEvent, *ExEventObjectType, EVENT_MODIFY_STATE, [](PKEVENT event) {
    KeSetEvent(event, EVENT_INCREMENT, FALSE);
    return TRUE;
  });
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  return WithObject<KEVENT>(hEvent, *ExEventObjectType, EVENT_MODIFY_STATE, [](PKEVENT event) {
    KeClearEvent(event);
    return TRUE;
  });
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCWSTR lpName) {
  bool created;
  HANDLE handle = CreateNamedObject(
      MutantType(), sizeof(KMUTANT), MUTANT_ALL_ACCESS, lpMutexAttributes, lpName,
      [](PVOID body) { KeInitializeMutex(static_cast<PKMUTANT>(body), 0); }, &created);
  // An existing mutex is opened without taking it, whatever the caller asked for.
  if (handle != nullptr && created && bInitialOwner) {
    WithObject<KMUTANT>(handle, MutantType(), 0, [](PKMUTANT mutex) {
      LARGE_INTEGER now = {};
      KeWaitForSingleObject(mutex, UserRequest, UserMode, FALSE, &now);
      return TRUE;
    });
  }
  return handle;
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return OpenNamedObject(MutantType(), dwDesiredAccess, bInheritHandle, lpName);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  return WithObject<KMUTANT>(hMutex, MutantType(), 0, [](PKMUTANT mutex) {
    // Only the owner may release; the kernel would stop the machine for anyone else.
    if (mutex->OwnerThread != KeGetCurrentThread()) return FailWith(STATUS_MUTANT_NOT_OWNED);
    KeReleaseMutex(mutex, FALSE);
    return TRUE;
  });
}

HANDLE WINAPI CreateSemaphoreW(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes, LONG lInitialCount,
                               LONG lMaximumCount, LPCWSTR lpName) {
  if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
    FailWith(STATUS_INVALID_PARAMETER);
    return nullptr;
  }
  bool created;
  return CreateNamedObject(
      *ExSemaphoreObjectType, sizeof(KSEMAPHORE), SEMAPHORE_ALL_ACCESS, lpSemaphoreAttributes,
      lpName,
      [&](PVOID body) {
        KeInitializeSemaphore(static_cast<PKSEMAPHORE>(body), lInitialCount, lMaximumCount);
      },
      &created);
}

BOOL WINAPI ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount) {
  return WithObject<KSEMAPHORE>(
      hSemaphore, *ExSemaphoreObjectType, SEMAPHORE_MODIFY_STATE, [&](PKSEMAPHORE semaphore) {
        if (lReleaseCount <= 0) return FailWith(STATUS_INVALID_PARAMETER);
        if (semaphore->Header.SignalState > semaphore->Limit - lReleaseCount)
          return FailWith(STATUS_SEMAPHORE_LIMIT_EXCEEDED);
        const LONG previous = KeReleaseSemaphore(semaphore, SEMAPHORE_INCREMENT, lReleaseCount,
                                                 FALSE);
        if (lpPreviousCount != nullptr) *lpPreviousCount = previous;
        return TRUE;
      });
}
