// The registry entries through which hosts find the driver: the class under
// HKEY_CLASSES_ROOT\CLSID and the driver's key under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO.
#pragma once

#include "user_mode.h"

// What went wrong before any key was touched.
inline constexpr LONG kRegNoModule = -101;
inline constexpr LONG kRegNoFileName = -102;
inline constexpr LONG kRegNoClsidText = -103;
inline constexpr LONG kRegClsidTooLong = -104;

// 0, or one of the codes above. Failures of single registry writes are not reported.
LONG RegisterAsioDriver();
LONG UnregisterAsioDriver();
