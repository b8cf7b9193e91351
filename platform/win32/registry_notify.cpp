#include "win32/registry_notify.h"

#include <map>
#include <memory>
#include <utility>

#include "kernel/ke.h"
#include "kernel/ps.h"
#include "win32/fileapi.h"
#include "win32/named_objects.h"
#include "win32/synchapi.h"
#include "win32/win32_state.h"
#include "win32/winerror.h"

namespace tarnlink::win32 {

struct KeyNotify {
  host::RegistryKeyRef key;
  bool subtree = false;
  ULONG filter = 0;
  host::RegistryStore::WatchId watch = 0;
  PKEVENT event = nullptr;  // referenced while a request waits
  bool pending = false;     // a change came while no request waited
};

namespace {

using NotifyKey = std::pair<ULONG_PTR, HANDLE>;  // process id, key handle

NotifyKey KeyFor(HANDLE handle) {
  return {reinterpret_cast<ULONG_PTR>(PsGetCurrentProcessId()), handle};
}

void Signal(PKEVENT event) {
  if (event == nullptr) return;
  KeSetEvent(event, EVENT_INCREMENT, FALSE);
  ObDereferenceObject(event);
}

void Watch(const std::shared_ptr<KeyNotify>& notify);

// A change of the watched key: completes the waiting request, or is remembered for the next
// one; the key stays watched either way.
void Changed(const std::weak_ptr<KeyNotify>& weak) {
  State& state = MachineState();
  PKEVENT event = nullptr;
  {
    std::lock_guard guard(state.lock);
    std::shared_ptr<KeyNotify> notify = weak.lock();
    if (notify == nullptr) return;
    event = std::exchange(notify->event, nullptr);
    if (event == nullptr) notify->pending = true;
    Watch(notify);
  }
  Signal(event);
}

void Watch(const std::shared_ptr<KeyNotify>& notify) {
  std::weak_ptr<KeyNotify> weak = notify;
  notify->watch = host::MachineRegistry().Watch(notify->key, notify->subtree, notify->filter,
                                                [weak] { Changed(weak); });
}

}  // namespace

LONG ArmKeyNotification(HANDLE KeyHandle, const host::RegistryKeyRef& Key, bool Subtree,
                        ULONG Filter, HANDLE Event, bool Asynchronous) {
  HANDLE waitEvent = Event;
  if (!Asynchronous) {
    waitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (waitEvent == nullptr) return ERROR_NO_SYSTEM_RESOURCES;
  }
  PVOID event = ReferenceHandle(waitEvent, *ExEventObjectType, EVENT_MODIFY_STATE);
  if (event == nullptr) {
    if (!Asynchronous) CloseHandle(waitEvent);
    return ERROR_INVALID_HANDLE;
  }
  KeClearEvent(static_cast<PKEVENT>(event));
  State& state = MachineState();
  PKEVENT completeNow = nullptr;
  PKEVENT replaced = nullptr;
  {
    std::lock_guard guard(state.lock);
    std::shared_ptr<KeyNotify>& notify = state.keyNotifies[KeyFor(KeyHandle)];
    if (notify == nullptr || notify->key != Key) {
      if (notify != nullptr) host::MachineRegistry().CancelWatch(notify->watch);
      notify = std::make_shared<KeyNotify>();
      notify->key = Key;
      notify->subtree = Subtree;
      notify->filter = Filter;
      Watch(notify);
    }
    if (std::exchange(notify->pending, false)) {
      completeNow = static_cast<PKEVENT>(event);
    } else {
      replaced = std::exchange(notify->event, static_cast<PKEVENT>(event));
    }
  }
  Signal(replaced);
  Signal(completeNow);
  if (!Asynchronous) {
    WaitForSingleObject(waitEvent, INFINITE);
    CloseHandle(waitEvent);
  }
  return ERROR_SUCCESS;
}

void EndKeyNotification(HANDLE KeyHandle) {
  State& state = MachineState();
  PKEVENT event = nullptr;
  {
    std::lock_guard guard(state.lock);
    auto& notifies = state.keyNotifies;
    auto it = notifies.find(KeyFor(KeyHandle));
    if (it == notifies.end()) return;
    host::MachineRegistry().CancelWatch(it->second->watch);
    event = std::exchange(it->second->event, nullptr);
    notifies.erase(it);
  }
  Signal(event);
}

}  // namespace tarnlink::win32
