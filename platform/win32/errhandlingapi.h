// The calling thread's last error.
#pragma once

#include "win32/windef.h"

DWORD WINAPI GetLastError();
VOID WINAPI SetLastError(DWORD dwErrCode);
