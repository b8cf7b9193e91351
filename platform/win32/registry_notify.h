// Registry change notification per key handle, as Windows keeps it: the first request on a
// handle starts watching the key, a change with no request waiting is remembered and completes
// the next request at once, so no change between two requests is lost; several changes before
// a request fold into one. Closing the handle completes a waiting request. Host side.
#pragma once

#include "kernel/registry_store.h"
#include "win32/windef.h"

namespace tarnlink::win32 {

// Requests a notification on the key behind KeyHandle: Event is set at the next matching
// change (or at once for one already remembered). Synchronous requests wait for it.
LONG ArmKeyNotification(HANDLE KeyHandle, const host::RegistryKeyRef& Key, bool Subtree,
                        ULONG Filter, HANDLE Event, bool Asynchronous);
// The handle is being closed: stops watching and completes a waiting request.
void EndKeyNotification(HANDLE KeyHandle);

}  // namespace tarnlink::win32
