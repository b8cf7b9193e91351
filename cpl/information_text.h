// The information text under the settings: the product, the program's version and build date,
// and two attribution lines, each line ending in CR LF.
#pragma once

#include "wide_text.h"

// The text for a version ("1.0.0.1") and a build date as the compiler writes it ("Dec 11 2026").
WideString InformationText(const char* version, const char* buildDate);
