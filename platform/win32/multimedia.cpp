// The multimedia class scheduler and multimedia time, on the machine's scheduler and clock.
// A "Pro Audio" thread runs in the real-time priority range: above every normal thread, with
// its AVRT priority moving it within the task's band.
#include <string_view>

#include "kernel/ke.h"
#include "kernel/registry_names.h"
#include "win32/avrt.h"
#include "win32/errhandlingapi.h"
#include "win32/mmsystem.h"
#include "win32/nt_error.h"
#include "win32/win32_state.h"

using tarnlink::win32::FailWithError;
using tarnlink::win32::ThreadRecord;

namespace {

constexpr KPRIORITY kProAudioPriority = 24;  // AVRT_PRIORITY_NORMAL within the task's band

// The calling thread's task handle: one per thread, valid while it is in a task.
HANDLE TaskHandleOf(const ThreadRecord& record) {
  return const_cast<ThreadRecord*>(&record);
}

ThreadRecord* InTask(HANDLE handle) {
  ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  if (handle != TaskHandleOf(self) || !self.inMmTask) {
    FailWithError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &self;
}

}  // namespace

HANDLE WINAPI AvSetMmThreadCharacteristicsW(LPCWSTR TaskName, LPDWORD TaskIndex) {
  if (TaskName == nullptr || TaskIndex == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The one task the machine defines.
  if (host::FoldRegistryName(TaskName) != host::FoldRegistryName(u"Pro Audio")) {
    FailWithError(ERROR_INVALID_TASK_NAME);
    return nullptr;
  }
  ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  if (!self.inMmTask) {
    self.inMmTask = true;
    self.priorityBeforeTask = KeQueryPriorityThread(KeGetCurrentThread());
    KeSetPriorityThread(KeGetCurrentThread(), kProAudioPriority);
  }
  *TaskIndex = 1;
  return TaskHandleOf(self);
}

BOOL WINAPI AvSetMmThreadPriority(HANDLE AvrtHandle, AVRT_PRIORITY Priority) {
  ThreadRecord* self = InTask(AvrtHandle);
  if (self == nullptr) return FALSE;
  if (Priority < AVRT_PRIORITY_VERYLOW || Priority > AVRT_PRIORITY_CRITICAL)
    return FailWithError(ERROR_INVALID_PARAMETER);
  KeSetPriorityThread(KeGetCurrentThread(), kProAudioPriority + Priority);
  return TRUE;
}

BOOL WINAPI AvRevertMmThreadCharacteristics(HANDLE AvrtHandle) {
  ThreadRecord* self = InTask(AvrtHandle);
  if (self == nullptr) return FALSE;
  self->inMmTask = false;
  KeSetPriorityThread(KeGetCurrentThread(), self->priorityBeforeTask);
  return TRUE;
}

DWORD WINAPI timeGetTime() {
  return static_cast<DWORD>(KeQueryInterruptTime() / 10000);
}

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod) {
  if (uPeriod == 0) return TIMERR_NOCANDO;
  ExSetTimerResolution(uPeriod * 10000, TRUE);
  return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT uPeriod) {
  if (uPeriod == 0) return TIMERR_NOCANDO;
  ExSetTimerResolution(uPeriod * 10000, FALSE);
  return TIMERR_NOERROR;
}
