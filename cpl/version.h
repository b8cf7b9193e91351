// The control panel's version: the file version its version resource carries on Windows and the
// one its information text shows.
#pragma once

#define TARNLINK_CPL_VERSION_TEXT "1.0.0.1"
#define TARNLINK_CPL_VERSION_NUMBERS 1, 0, 0, 1
