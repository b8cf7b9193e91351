// The one driver object a process may hold. Module data is per process on Windows; the record
// is kept per process id all the same, so that it stays one per process wherever a module's
// data serves several processes.
#pragma once

#include "user_mode.h"

// Records object as this process's driver; false when the process already has one (or the
// table of processes is full).
bool ClaimLiveDriver(const void* object);
// Clears the record when object is this process's driver.
void ForgetLiveDriver(const void* object);
