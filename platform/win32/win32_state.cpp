#include "win32/win32_state.h"

#include "kernel/ke.h"
#include "kernel/ob_host.h"
#include "kernel/ps.h"

namespace tarnlink::win32 {

namespace {

// The state hangs off a machine-owned object, so that it goes with the machine: the object
// manager discards it when the machine is torn down, and a new machine makes a new one.
State* g_state = nullptr;
PVOID g_stateObject = nullptr;

void DiscardState(PVOID) {
  delete g_state;
  g_state = nullptr;
  g_stateObject = nullptr;
}

GENERIC_MAPPING kNoAccess = {0, 0, 0, 0};
OBJECT_TYPE g_stateType = {"Win32State", DiscardState, nullptr, kNoAccess, 0, DiscardState};

}  // namespace

State& MachineState() {
  if (g_state != nullptr && ObHostIsObject(g_stateObject)) return *g_state;
  PVOID object = nullptr;
  NTSTATUS status = ObHostCreateObject(&g_stateType, 1, OB_FLAG_MACHINE_OWNED, &object);
  if (!NT_SUCCESS(status)) std::abort();
  g_stateObject = object;
  g_state = new State();
  return *g_state;
}

ThreadRecord* ThreadRecordById(ULONG id) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  auto it = state.threads.find(id);
  return it == state.threads.end() ? nullptr : it->second.get();
}

ThreadRecord& CurrentThreadRecord() {
  const auto id = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(PsGetCurrentThreadId()));
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  std::unique_ptr<ThreadRecord>& record = state.threads[id];
  if (record == nullptr) {
    record = std::make_unique<ThreadRecord>();
    KeInitializeEvent(&record->resumed, NotificationEvent, TRUE);
  }
  return *record;
}

}  // namespace tarnlink::win32
