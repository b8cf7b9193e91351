// Debug output: the machine keeps each text, and the trace ring records that one was written.
#pragma once

#include "win32/windef.h"

VOID WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
VOID WINAPI OutputDebugStringA(LPCSTR lpOutputString);
