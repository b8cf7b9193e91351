// Waits on handles. A thread blocked here is where TerminateThread can reach it: the wait is
// broken off and the thread ends.
#include "kernel/file_object.h"
#include "kernel/ke.h"
#include "kernel/ob_host.h"
#include "kernel/ps.h"
#include "win32/named_objects.h"
#include "win32/nt_error.h"
#include "win32/synchapi.h"
#include "win32/user_threads.h"

using tarnlink::win32::FailWith;
using tarnlink::win32::FailWithError;

namespace {

// The dispatcher object a waitable object's handle stands for; null for anything else.
PVOID DispatcherObjectOf(PVOID object) {
  const POBJECT_TYPE type = ObHostObjectHeader(object)->Type;
  if (type == *IoFileObjectType) return &static_cast<PFILE_OBJECT>(object)->Event;
  if (type == *ExEventObjectType || type == *ExSemaphoreObjectType || type == *PsThreadType ||
      type == *PsProcessType || type == tarnlink::win32::MutantType())
    return object;
  return nullptr;
}

DWORD WaitResult(NTSTATUS status, DWORD count) {
  if (status >= STATUS_WAIT_0 && status < static_cast<NTSTATUS>(STATUS_WAIT_0 + count))
    return WAIT_OBJECT_0 + static_cast<DWORD>(status - STATUS_WAIT_0);
  if (status >= STATUS_ABANDONED_WAIT_0 &&
      status < static_cast<NTSTATUS>(STATUS_ABANDONED_WAIT_0 + count))
    return WAIT_ABANDONED_0 + static_cast<DWORD>(status - STATUS_ABANDONED_WAIT_0);
  if (status == STATUS_TIMEOUT) return WAIT_TIMEOUT;
  FailWith(status);
  return WAIT_FAILED;
}

}  // namespace

DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                      DWORD dwMilliseconds, BOOL bAlertable) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  PVOID referenced[MAXIMUM_WAIT_OBJECTS];
  PVOID objects[MAXIMUM_WAIT_OBJECTS];
  DWORD count = 0;
  auto release = [&] {
    for (DWORD i = 0; i < count; ++i) ObDereferenceObject(referenced[i]);
  };
  for (; count < nCount; ++count) {
    PVOID object = tarnlink::win32::ReferenceHandle(lpHandles[count], nullptr, SYNCHRONIZE);
    if (object == nullptr) {
      release();
      return WAIT_FAILED;
    }
    referenced[count] = object;
    objects[count] = DispatcherObjectOf(object);
    if (objects[count] == nullptr) {
      ++count;
      release();
      FailWithError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  LARGE_INTEGER timeout;
  timeout.QuadPart = -static_cast<LONGLONG>(dwMilliseconds) * 10000;
  KWAIT_BLOCK blocks[MAXIMUM_WAIT_OBJECTS];
  tarnlink::win32::ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  tarnlink::win32::EndIfTerminated(self);
  self.inUserWait = true;
  const NTSTATUS status = KeWaitForMultipleObjects(
      nCount, objects, bWaitAll ? WaitAll : WaitAny, UserRequest, UserMode,
      bAlertable ? TRUE : FALSE, dwMilliseconds == INFINITE ? nullptr : &timeout, blocks);
  self.inUserWait = false;
  release();
  tarnlink::win32::EndIfTerminated(self);
  return WaitResult(status, nCount);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

DWORD WINAPI WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, bAlertable);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

VOID WINAPI Sleep(DWORD dwMilliseconds) {
  tarnlink::win32::ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  tarnlink::win32::EndIfTerminated(self);
  LARGE_INTEGER interval;
  interval.QuadPart = -static_cast<LONGLONG>(dwMilliseconds) * 10000;
  self.inUserWait = true;
  KeDelayExecutionThread(UserMode, FALSE, &interval);
  self.inUserWait = false;
  tarnlink::win32::EndIfTerminated(self);
}
