#include "cpl_reg_util.h"

#include "sync_objects.h"

int CCplRegUtil::WriteValue(int id, const void* data, DWORD length) {
  if (!CmnRegUtil::WriteValue(id, data, length)) return 0;
  // Without a listener nobody waits; the next driver object reads the registry at its start.
  HANDLE listener = OpenEventW(SYNCHRONIZE, FALSE, kSettingsListenerEventName);
  if (listener == nullptr) return 1;
  CloseHandle(listener);
  HANDLE change = OpenEventW(EVENT_MODIFY_STATE, FALSE, kSettingsChangeEventName);
  if (change != nullptr) {
    SetEvent(change);
    CloseHandle(change);
  }
  return 1;
}
