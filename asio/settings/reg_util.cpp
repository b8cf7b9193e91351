#include "reg_util.h"

#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"

namespace {

constexpr REGSAM kView = KEY_WOW64_64KEY;

HKEY OpenSettings(REGSAM access) {
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, access | kView, &key);
  if (status != ERROR_SUCCESS) {
    AsioTrace(kTraceSettingsOpenFailed, status);
    return nullptr;
  }
  return key;
}

}  // namespace

CmnRegUtil::~CmnRegUtil() = default;

int CmnRegUtil::WriteValue(int id, const void* data, DWORD length) {
  const SettingsTableEntry* entry = FindSetting(id);
  if (id < 0 || entry == nullptr || data == nullptr || length == 0) {
    AsioTrace(kTraceSettingsBadRequest, id, length);
    return 0;
  }
  HKEY key = OpenSettings(KEY_WRITE);
  if (key == nullptr) return 0;
  const LSTATUS status = RegSetValueExW(key, entry->valueName, 0, entry->type,
                                        static_cast<const BYTE*>(data), length);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    AsioTrace(kTraceSettingsWriteFailed, id, status);
    return 0;
  }
  return 1;
}

int CmnRegUtil::ReadValue(int id, void* buffer, DWORD length) {
  if (buffer == nullptr || length == 0) {
    AsioTrace(kTraceSettingsBadRequest, id, length);
    return 0;
  }
  HKEY key = nullptr;
  LSTATUS status =
      RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ | kView, &key);
  if (status == ERROR_FILE_NOT_FOUND && CreateDefaults())
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ | kView, &key);
  if (status != ERROR_SUCCESS) {
    AsioTrace(kTraceSettingsOpenFailed, status);
    return 0;
  }
  const SettingsTableEntry* entry = FindSetting(id);
  if (entry == nullptr) {
    RegCloseKey(key);
    return 1;
  }
  if (length < entry->size) {
    RegCloseKey(key);
    AsioTrace(kTraceSettingsBadRequest, id, length);
    return 0;
  }
  // The value lands here first, so that a value of the wrong type or size never reaches the
  // caller's buffer.
  BYTE value[128] = {};
  static_assert(sizeof(value) >= 128, "the table's largest value fits");
  DWORD type = REG_NONE;
  DWORD size = entry->size;
  status = RegQueryValueExW(key, entry->valueName, nullptr, &type, value, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    AsioTrace(kTraceSettingsReadFailed, id, status);
    return 0;
  }
  // A number shorter than its type would leave the caller with a value nobody wrote.
  if (type != entry->type || (type == REG_DWORD && size != sizeof(DWORD))) {
    AsioTrace(kTraceSettingsWrongType, id, type, size);
    return 0;
  }
  std::memcpy(buffer, value, size);
  return 1;
}

int CmnRegUtil::CreateDefaults() {
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0,
                                         KEY_WRITE | kView, nullptr, &key, &disposition);
  if (status != ERROR_SUCCESS) {
    AsioTrace(kTraceSettingsCreateFailed, status);
    return 0;
  }
  if (disposition == REG_CREATED_NEW_KEY) {
    const BYTE noDevice[kDefaultSelectedBytes] = {};
    const DWORD index = kDefaultBufferSizeIndex;
    const DWORD rate = kDefaultSamplingRate;
    const LSTATUS writes[] = {
        RegSetValueExW(key, FindSetting(kSettingSelected)->valueName, 0, REG_SZ, noDevice,
                       sizeof noDevice),
        RegSetValueExW(key, FindSetting(kSettingBufferSizeIndex)->valueName, 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&index), sizeof index),
        RegSetValueExW(key, FindSetting(kSettingSamplingRate)->valueName, 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&rate), sizeof rate),
    };
    for (LSTATUS write : writes) {
      if (write != ERROR_SUCCESS) AsioTrace(kTraceSettingsWriteFailed, write);
    }
  }
  RegCloseKey(key);
  return 1;
}

DWORD CmnRegUtil::ReadNumber(int id) {
  DWORD value = 0;
  ReadValue(id, &value, sizeof value);
  return value;
}

void CmnRegUtil::ReadSelected(WCHAR (&text)[kSelectedCodeUnits + 1]) {
  // Zeroed beyond what the read may fill, so an unterminated value still ends inside the array.
  std::memset(text, 0, sizeof text);
  static_assert(sizeof text > 128, "room for a terminator after the largest read");
  ReadValue(kSettingSelected, text, FindSetting(kSettingSelected)->size);
}

void CmnRegUtil::ReadAll(SharedSettings* settings) {
  settings->bufferSizeIndex = ReadNumber(kSettingBufferSizeIndex);
  settings->samplingRate = ReadNumber(kSettingSamplingRate);
  ReadSelected(settings->selected);
}

int CmnRegUtil::WriteNumber(int id, DWORD value) {
  return WriteValue(id, &value, sizeof value);
}

int CmnRegUtil::WriteSelected(const WCHAR* text) {
  DWORD units = 0;
  while (units < kSelectedCodeUnits && text[units] != 0) ++units;
  // Written with its terminator, cut to what the programs keep.
  WCHAR value[kSelectedCodeUnits + 1] = {};
  std::memcpy(value, text, units * sizeof(WCHAR));
  return WriteValue(kSettingSelected, value, (units + 1) * sizeof(WCHAR));
}
