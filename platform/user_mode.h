// The user-mode umbrella: everything the user-mode deliverables include from the system.
// On Windows it is the system's own headers; elsewhere it is the platform's stand-ins, which
// declare the same names with the same signatures, layouts and values.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#include <objbase.h>
#include <mmsystem.h>
#include <avrt.h>
#include <setupapi.h>
#include <dbt.h>
#include <commctrl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <cstddef>

// UTF-16 text is WCHAR everywhere; this is the one way to write a wide literal.
#define WSTR(s) L##s

#else

#include "win32/avrt.h"
#include "win32/dbt.h"
#include "win32/debugapi.h"
#include "win32/errhandlingapi.h"
#include "kernel/interlocked.h"
#include "kernel/ioctl_codes.h"
#include "win32/fileapi.h"
#include "win32/libloaderapi.h"
#include "win32/mmsystem.h"
#include "win32/objbase.h"
#include "win32/processthreadsapi.h"
#include "win32/securitybaseapi.h"
#include "win32/setupapi.h"
#include "win32/synchapi.h"
#include "win32/sysinfoapi.h"
#include "win32/unknwn.h"
#include "win32/windef.h"
#include "win32/winerror.h"
#include "win32/winreg.h"
#include "win32/winuser.h"
#include "win32/wingdi.h"
#include "win32/commctrl.h"
#include "win32/gdiplus.h"
#include "win32/objidl.h"

#endif
