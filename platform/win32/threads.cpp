// Threads: each CreateThread thread is a thread of the machine, created through the kernel's
// thread creation and run by its scheduler, in the creating process.
#include <memory>

#include "kernel/ke.h"
#include "kernel/ke_thread.h"
#include "kernel/machine.h"
#include "kernel/ps.h"
#include "kernel/ps_process.h"
#include "win32/errhandlingapi.h"
#include "win32/named_objects.h"
#include "win32/nt_error.h"
#include "win32/processthreadsapi.h"
#include "win32/user_threads.h"

using tarnlink::win32::FailWith;
using tarnlink::win32::FailWithError;
using tarnlink::win32::ThreadRecord;

namespace {

#define STATUS_THREAD_IS_TERMINATING ((NTSTATUS)0xC000004BL)

struct StartBlock {
  std::function<DWORD()> body;
  PEPROCESS process;
};

VOID ThreadMain(PVOID context) {
  std::unique_ptr<StartBlock> start(static_cast<StartBlock*>(context));
  PsHostSetThreadProcess(KeGetCurrentThread(), start->process);
  ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  // A thread created suspended waits here until ResumeThread.
  self.inUserWait = true;
  KeWaitForSingleObject(&self.resumed, UserRequest, UserMode, FALSE, nullptr);
  self.inUserWait = false;
  tarnlink::win32::EndIfTerminated(self);
  self.started = true;
  self.exitCode = start->body();
  self.ended = true;
}

// Runs Use on the thread behind a handle (or the pseudo-handle of the calling thread).
template <typename Use>
auto WithThread(HANDLE handle, ACCESS_MASK access, Use use) -> decltype(use(PKTHREAD{})) {
  PVOID object = tarnlink::win32::ReferenceHandle(handle, *PsThreadType, access);
  if (object == nullptr) return decltype(use(PKTHREAD{})){};
  auto result = use(static_cast<PKTHREAD>(object));
  ObDereferenceObject(object);
  return result;
}

ThreadRecord& RecordOf(PKTHREAD thread) {
  ThreadRecord* record = tarnlink::win32::ThreadRecordById(thread->id);
  if (record != nullptr) return *record;
  // A thread that never called into this layer has no record yet; make it in its name.
  tarnlink::win32::State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  auto& slot = state.threads[thread->id];
  slot = std::make_unique<ThreadRecord>();
  KeInitializeEvent(&slot->resumed, NotificationEvent, TRUE);
  return *slot;
}

KPRIORITY KernelPriority(int priority) {
  if (priority == THREAD_PRIORITY_TIME_CRITICAL) return 15;
  if (priority == THREAD_PRIORITY_IDLE) return 1;
  return 8 + priority;
}

}  // namespace

namespace tarnlink::win32 {

void EndCurrentThread(DWORD ExitCode) {
  ThreadRecord& self = CurrentThreadRecord();
  self.exitCode = ExitCode;
  self.ended = true;
  PsTerminateSystemThread(STATUS_SUCCESS);
}

void EndIfTerminated(ThreadRecord& Record) {
  if (Record.terminateRequested) EndCurrentThread(Record.terminateExitCode);
}

}  // namespace tarnlink::win32

namespace tarnlink::win32 {

HANDLE StartUserThread(PEPROCESS Process, std::function<DWORD()> Body, bool Suspended,
                       ULONG HandleAttributes, DWORD* ThreadId) {
  auto start = std::make_unique<StartBlock>(StartBlock{std::move(Body), Process});
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, HandleAttributes, nullptr, nullptr);
  HANDLE handle = nullptr;
  CLIENT_ID client = {};
  const NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, &attributes, nullptr,
                                               &client, ThreadMain, start.get());
  if (!NT_SUCCESS(status)) {
    FailWith(status);
    return nullptr;
  }
  start.release();  // the thread owns it now
  // The new thread runs only once this one gives up the processor, so its record is in place
  // before it looks at it.
  const auto id = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(client.UniqueThread));
  State& state = MachineState();
  {
    std::lock_guard guard(state.lock);
    auto& record = state.threads[id];
    record = std::make_unique<ThreadRecord>();
    record->suspendCount = Suspended ? 1 : 0;
    KeInitializeEvent(&record->resumed, NotificationEvent, Suspended ? FALSE : TRUE);
  }
  if (ThreadId != nullptr) *ThreadId = id;
  return handle;
}

}  // namespace tarnlink::win32

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (lpStartAddress == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const ULONG attributes =
      lpThreadAttributes != nullptr && lpThreadAttributes->bInheritHandle ? OBJ_INHERIT : 0;
  HANDLE handle = tarnlink::win32::StartUserThread(
      PsGetCurrentProcess(), [lpStartAddress, lpParameter] { return lpStartAddress(lpParameter); },
      (dwCreationFlags & CREATE_SUSPENDED) != 0, attributes, lpThreadId);
  if (handle != nullptr) SetLastError(ERROR_SUCCESS);
  return handle;
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  PVOID object = tarnlink::win32::ReferenceHandle(hThread, *PsThreadType, THREAD_SUSPEND_RESUME);
  if (object == nullptr) return static_cast<DWORD>(-1);
  ThreadRecord& record = RecordOf(static_cast<PKTHREAD>(object));
  ObDereferenceObject(object);
  const DWORD previous = record.suspendCount;
  if (previous > 0 && --record.suspendCount == 0)
    KeSetEvent(&record.resumed, EVENT_INCREMENT, FALSE);
  return previous;
}

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
  PVOID object = tarnlink::win32::ReferenceHandle(hThread, *PsThreadType, THREAD_TERMINATE);
  if (object == nullptr) return FALSE;
  auto* thread = static_cast<PKTHREAD>(object);
  if (thread == KeGetCurrentThread()) {
    ObDereferenceObject(object);
    tarnlink::win32::EndCurrentThread(dwExitCode);
  }
  ThreadRecord& record = RecordOf(thread);
  if (!record.ended && !record.terminateRequested) {
    record.terminateRequested = true;
    record.terminateExitCode = dwExitCode;
    // A thread blocked in a Win32 wait ends at once; one that is running driver code or is
    // ready to run ends at its next Win32 wait.
    if (record.inUserWait) {
      tarnlink::kernel::Machine& machine = tarnlink::kernel::Machine::Current();
      tarnlink::kernel::Lock lock(machine.dispatcherLock());
      if (thread->state == tarnlink::kernel::ThreadState::Waiting)
        machine.Unwait(thread, STATUS_THREAD_IS_TERMINATING);
    }
  }
  ObDereferenceObject(object);
  return TRUE;
}

VOID WINAPI ExitThread(DWORD dwExitCode) {
  tarnlink::win32::EndCurrentThread(dwExitCode);
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  if (lpExitCode == nullptr) return FailWithError(ERROR_INVALID_PARAMETER);
  return WithThread(hThread, THREAD_QUERY_INFORMATION, [&](PKTHREAD thread) -> BOOL {
    ThreadRecord& record = RecordOf(thread);
    *lpExitCode = thread->Header.SignalState != 0 ? record.exitCode : STILL_ACTIVE;
    return TRUE;
  });
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
  const bool known = (nPriority >= THREAD_PRIORITY_LOWEST && nPriority <= THREAD_PRIORITY_HIGHEST) ||
                     nPriority == THREAD_PRIORITY_IDLE ||
                     nPriority == THREAD_PRIORITY_TIME_CRITICAL;
  if (!known) return FailWithError(ERROR_INVALID_PARAMETER);
  return WithThread(hThread, THREAD_SET_INFORMATION, [&](PKTHREAD thread) -> BOOL {
    KeSetPriorityThread(thread, KernelPriority(nPriority));
    return TRUE;
  });
}

int WINAPI GetThreadPriority(HANDLE hThread) {
  PVOID object = tarnlink::win32::ReferenceHandle(hThread, *PsThreadType, THREAD_QUERY_INFORMATION);
  if (object == nullptr) return THREAD_PRIORITY_ERROR_RETURN;
  const KPRIORITY priority = KeQueryPriorityThread(static_cast<PKTHREAD>(object));
  ObDereferenceObject(object);
  if (priority >= 15) return THREAD_PRIORITY_TIME_CRITICAL;
  if (priority <= 1) return THREAD_PRIORITY_IDLE;
  return priority - 8;
}

HANDLE WINAPI GetCurrentThread() {
  return NtCurrentThread();
}

DWORD WINAPI GetCurrentThreadId() {
  return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(PsGetCurrentThreadId()));
}

HANDLE WINAPI GetCurrentProcess() {
  return NtCurrentProcess();
}

DWORD WINAPI GetCurrentProcessId() {
  return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(PsGetCurrentProcessId()));
}
