// The main dialog's template, in the packed extended form the dialog manager reads: the source
// of the program's dialog resource (the build turns these bytes into the resource).
#pragma once

#include <vector>

#include "dialog_title.h"

// The template's bytes (aligned as the dialog manager requires).
const std::vector<DWORD>& MainDialogTemplate();
