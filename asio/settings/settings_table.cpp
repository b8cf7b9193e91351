#include "settings_table.h"

const SettingsTableEntry SettingsTable[4] = {
    {kSettingDefault, WSTR(""), REG_SZ, 128},
    {kSettingBufferSizeIndex, WSTR("buffer_size_index"), REG_DWORD, 4},
    {kSettingSamplingRate, WSTR("sampling_rate"), REG_DWORD, 4},
    {kSettingSelected, WSTR("selected"), REG_SZ, 128},
};

const SettingsTableEntry* FindSetting(int id) {
  for (const SettingsTableEntry& entry : SettingsTable) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}
