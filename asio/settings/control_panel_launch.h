// Starting the control panel program the installer named in the setup key.
#pragma once

// Starts it in a new process without waiting for it; a missing entry or a failed start is only
// traced.
void LaunchControlPanel();
