// The main dialog's title, which is also how a second start finds the first one's window.
#pragma once

#include "user_mode.h"

inline constexpr LPCWSTR kDialogTitle = WSTR("Velmor USB Audio Tarn");
