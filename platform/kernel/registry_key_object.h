// Registry keys as objects behind handles. Host side.
#pragma once

#include "kernel/ob_host.h"
#include "kernel/registry_store.h"

namespace tarnlink::io {

// A handle (in the current process, or the kernel's table with OBJ_KERNEL_HANDLE) to a key.
NTSTATUS InsertKeyHandle(const host::RegistryKeyRef& key, ACCESS_MASK DesiredAccess,
                         ULONG Attributes, KPROCESSOR_MODE Mode, PHANDLE Handle);
// The key behind a handle, with the access check a caller in Mode gets.
NTSTATUS KeyFromHandle(HANDLE Handle, ACCESS_MASK DesiredAccess, KPROCESSOR_MODE Mode,
                       host::RegistryKeyRef* key);

}  // namespace tarnlink::io
