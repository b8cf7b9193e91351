// The settings the ASIO driver and the control panel share through the current user's registry:
// where they live, and the one table of value names, types and sizes both programs read and
// write them by.
#pragma once

#include "user_mode.h"

// Identifiers of the shared values; the table below is indexed by nothing but these.
enum SettingId : int {
  kSettingDefault = 0,
  kSettingBufferSizeIndex = 1,
  kSettingSamplingRate = 2,
  kSettingSelected = 3,
};

struct SettingsTableEntry {
  int id;
  LPCWSTR valueName;
  DWORD type;
  DWORD size;  // in bytes: the least a reader must offer, and what a read takes at most
};

extern const SettingsTableEntry SettingsTable[4];

// The entry of id, or nullptr for an id the table does not know.
const SettingsTableEntry* FindSetting(int id);

// Per-user settings and the installer's machine-wide setup key, both in the 64-bit view.
inline constexpr LPCWSTR kSettingsKeyPath = WSTR("SOFTWARE\\Velmor\\Tarnlink");
inline constexpr LPCWSTR kSetupKeyPath = WSTR("SOFTWARE\\Velmor\\Tarnlink Setup");
inline constexpr LPCWSTR kControlPanelValue = WSTR("ControlPanel");

// What a newly created settings key holds.
inline constexpr DWORD kDefaultBufferSizeIndex = 63;
inline constexpr DWORD kDefaultSamplingRate = 44100;
inline constexpr DWORD kDefaultSelectedBytes = 256;

// The selected device as the programs keep it: at most 128 code units and a terminator. The
// registry value itself is read with the table's smaller limit.
inline constexpr DWORD kSelectedCodeUnits = 128;
