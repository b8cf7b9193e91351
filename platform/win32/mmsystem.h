// Multimedia timer services (mmsystem.h, timeapi.h): time in milliseconds from the machine's
// clock, and timer resolution requests.
#pragma once

#include "win32/windef.h"

typedef UINT MMRESULT;
#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97

DWORD WINAPI timeGetTime();
MMRESULT WINAPI timeBeginPeriod(UINT uPeriod);
MMRESULT WINAPI timeEndPeriod(UINT uPeriod);
