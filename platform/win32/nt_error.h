// How the Win32 layer reports a kernel status: as the last error, through Windows' mapping.
// Host side.
#pragma once

#include "win32/windef.h"
#include "win32/winerror.h"

namespace tarnlink::win32 {

// Sets the last error from Status and returns FALSE, for `return FailWith(status);`.
BOOL FailWith(NTSTATUS Status);
// Sets the last error to Error and returns FALSE.
BOOL FailWithError(DWORD Error);

}  // namespace tarnlink::win32
