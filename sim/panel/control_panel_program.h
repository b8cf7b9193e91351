// The control panel as a program of the machine: what Windows' loader would do with
// Tarnlink_cpl.exe (its entry and its resources), done by registration. Host side.
#pragma once

#include <string>
#include <vector>

#include "user_mode.h"

// Makes path start the control panel through CreateProcessW, with its logo and icon.
void RegisterControlPanelProgram(const std::u16string& path);

// The resource files' bytes.
extern const std::vector<BYTE> kLogoPng;
extern const std::vector<BYTE> kIcon;
