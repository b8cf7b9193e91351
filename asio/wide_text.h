// The few operations on terminated UTF-16 text the user-mode code needs, in one place. Letter
// case folds A-Z only: device ids and paths are ASCII.
#pragma once

#include <cstddef>
#include <string>

#include "user_mode.h"

// UTF-16 text of any length, in the code units the system uses.
using WideString = std::basic_string<WCHAR>;

size_t TextLength(const WCHAR* text);
// Copies at most units code units of from and a terminator (to holds units + 1).
void CopyText(WCHAR* to, const WCHAR* from, size_t units);
bool SameText(const WCHAR* a, const WCHAR* b);
bool SameTextIgnoringCase(const WCHAR* a, const WCHAR* b);
// Code unit by code unit, as a sort order.
bool TextBefore(const WCHAR* a, const WCHAR* b);
// The first occurrence of part in text, or nullptr.
const WCHAR* FindText(const WCHAR* text, const WCHAR* part);
void LowerCaseText(WCHAR* text);
