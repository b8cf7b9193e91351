#include "sim/asiohost/driver_list.h"

#include <algorithm>

namespace sim::asiohost {
namespace {

constexpr DWORD kNameUnits = 256;

bool ReadText(HKEY key, LPCWSTR name, std::u16string* text) {
  WCHAR buffer[kNameUnits] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(buffer) - sizeof(WCHAR);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  *text = std::u16string(buffer, bytes / sizeof(WCHAR));
  text->erase(std::min(text->find(u'\0'), text->size()));
  return true;
}

}  // namespace

std::vector<AsioDriverEntry> ListAsioDrivers() {
  std::vector<AsioDriverEntry> drivers;
  HKEY asio = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WSTR("SOFTWARE\\ASIO"), 0, KEY_READ | KEY_WOW64_64KEY,
                    &asio) != ERROR_SUCCESS)
    return drivers;
  for (DWORD index = 0;; ++index) {
    WCHAR name[kNameUnits] = {};
    DWORD units = kNameUnits;
    if (RegEnumKeyExW(asio, index, name, &units, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(asio, name, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) continue;
    AsioDriverEntry entry;
    entry.name = std::u16string(name, units);
    std::u16string clsid;
    const bool listed = ReadText(key, WSTR("CLSID"), &clsid) &&
                        CLSIDFromString(clsid.c_str(), &entry.clsid) == NOERROR;
    ReadText(key, WSTR("Description"), &entry.description);
    RegCloseKey(key);
    if (listed) drivers.push_back(std::move(entry));
  }
  RegCloseKey(asio);
  return drivers;
}

}  // namespace sim::asiohost
