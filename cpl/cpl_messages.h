// What the watchers tell the dialog: WM_APP with one of these in wParam.
#pragma once

#include "user_mode.h"

inline constexpr WPARAM kAppSettingsChanged = 0;
inline constexpr WPARAM kAppDevicesChanged = 1;
