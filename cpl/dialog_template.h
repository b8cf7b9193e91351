// The main dialog's template, in the packed extended form the dialog manager reads.
#pragma once

#include <vector>

#include "user_mode.h"

// The dialog's title, which is also how a second start finds the first one's window.
inline constexpr LPCWSTR kDialogTitle = WSTR("Velmor USB Audio Tarn");

// The template's bytes (aligned as the dialog manager requires).
const std::vector<DWORD>& MainDialogTemplate();
