#include "registration.h"

#include <string>
#include <vector>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "server_identity.h"
#include "wide_text.h"

namespace {

using Text = std::basic_string<WCHAR>;

constexpr DWORD kModulePathUnits = 360;
constexpr DWORD kKeyNameUnits = 360;
constexpr size_t kClsidTextUnits = 100;

// The module's lower-cased full path and the class id in its braced text form.
struct Identity {
  WCHAR modulePath[kModulePathUnits + 1];
  WCHAR clsid[kClsidTextUnits + 1];
};

LONG ReadIdentity(Identity* identity) {
  HMODULE module = GetModuleHandleW(kAsioModuleName);
  if (module == nullptr) return kRegNoModule;
  const DWORD length = GetModuleFileNameW(module, identity->modulePath, kModulePathUnits);
  if (length == 0) return kRegNoFileName;
  identity->modulePath[kModulePathUnits] = 0;
  LowerCaseText(identity->modulePath);
  LPOLESTR text = nullptr;
  if (FAILED(StringFromCLSID(kDriverClsid, &text))) return kRegNoClsidText;
  const bool fits = TextLength(text) <= kClsidTextUnits;
  if (fits) CopyText(identity->clsid, text, kClsidTextUnits);
  CoTaskMemFree(text);
  return fits ? 0 : kRegClsidTooLong;
}

bool KeyExists(HKEY root, const Text& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void SetString(HKEY key, LPCWSTR name, const WCHAR* value) {
  // The length in bytes without the terminator.
  const LSTATUS status =
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>(TextLength(value) * sizeof(WCHAR)));
  if (status != ERROR_SUCCESS) AsioTrace(kTraceRegistrationWriteFailed, status);
}

// Creates child under the key at parent (opened for the purpose) and returns it, or null.
HKEY CreateChild(HKEY root, const Text& parent, LPCWSTR child) {
  HKEY parentKey = nullptr;
  LSTATUS status = RegOpenKeyExW(root, parent.c_str(), 0, KEY_ALL_ACCESS, &parentKey);
  HKEY key = nullptr;
  if (status == ERROR_SUCCESS) {
    status = RegCreateKeyW(parentKey, child, &key);
    RegCloseKey(parentKey);
  }
  if (status == ERROR_SUCCESS) return key;
  AsioTrace(kTraceRegistrationWriteFailed, status);
  return nullptr;
}

// The keys below path, children before their parent.
void CollectTree(HKEY root, const Text& path, std::vector<Text>* keys) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    std::vector<Text> children;
    WCHAR name[kKeyNameUnits + 1];
    for (DWORD index = 0;; ++index) {
      DWORD units = kKeyNameUnits + 1;
      if (RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      children.push_back(path + WSTR("\\") + name);
    }
    RegCloseKey(key);
    for (const Text& child : children) CollectTree(root, child, keys);
  }
  keys->push_back(path);
}

void DeleteTree(HKEY root, const Text& path) {
  std::vector<Text> keys;
  CollectTree(root, path, &keys);
  for (const Text& key : keys) {
    const LSTATUS status = RegDeleteKeyW(root, key.c_str());
    if (status != ERROR_SUCCESS) AsioTrace(kTraceRegistrationWriteFailed, status);
  }
}

Text ReadDefaultValue(HKEY root, const Text& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  WCHAR value[kModulePathUnits + 1] = {};
  DWORD bytes = kModulePathUnits * sizeof(WCHAR);
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type,
                                          reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return {};
  value[bytes / sizeof(WCHAR)] = 0;
  LowerCaseText(value);
  return value;
}

Text ClassKey(const Identity& identity) { return Text(WSTR("CLSID\\")) + identity.clsid; }
Text DriverKey() { return Text(WSTR("SOFTWARE\\ASIO\\")) + kDriverName; }

}  // namespace

LONG RegisterAsioDriver() {
  Identity identity = {};
  if (const LONG failure = ReadIdentity(&identity); failure != 0) return failure;
  const Text classKey = ClassKey(identity);
  // The class key of this very file stays as it is; one of another file (an older install
  // elsewhere) goes whole, with whatever other tools added below it.
  bool classInPlace = false;
  if (KeyExists(HKEY_CLASSES_ROOT, classKey)) {
    classInPlace = ReadDefaultValue(HKEY_CLASSES_ROOT, classKey + WSTR("\\InprocServer32")) ==
                   identity.modulePath;
    if (!classInPlace) DeleteTree(HKEY_CLASSES_ROOT, classKey);
  }
  if (!classInPlace) {
    if (HKEY key = CreateChild(HKEY_CLASSES_ROOT, WSTR("CLSID"), identity.clsid)) {
      SetString(key, nullptr, kDriverName);
      RegCloseKey(key);
    }
    if (HKEY key = CreateChild(HKEY_CLASSES_ROOT, classKey, WSTR("InprocServer32"))) {
      SetString(key, nullptr, identity.modulePath);
      SetString(key, WSTR("ThreadingModel"), kThreadingModel);
      RegCloseKey(key);
    }
  }
  if (KeyExists(HKEY_LOCAL_MACHINE, WSTR("SOFTWARE\\ASIO"))) {
    if (KeyExists(HKEY_LOCAL_MACHINE, DriverKey())) DeleteTree(HKEY_LOCAL_MACHINE, DriverKey());
  } else if (HKEY key = CreateChild(HKEY_LOCAL_MACHINE, WSTR("SOFTWARE"), WSTR("ASIO"))) {
    RegCloseKey(key);
  }
  if (HKEY key = CreateChild(HKEY_LOCAL_MACHINE, WSTR("SOFTWARE\\ASIO"), kDriverName)) {
    SetString(key, WSTR("CLSID"), identity.clsid);
    SetString(key, WSTR("Description"), kDriverName);
    RegCloseKey(key);
  }
  return 0;
}

LONG UnregisterAsioDriver() {
  Identity identity = {};
  if (const LONG failure = ReadIdentity(&identity); failure != 0) return failure;
  const Text classKey = ClassKey(identity);
  if (KeyExists(HKEY_CLASSES_ROOT, classKey)) DeleteTree(HKEY_CLASSES_ROOT, classKey);
  if (KeyExists(HKEY_LOCAL_MACHINE, DriverKey())) DeleteTree(HKEY_LOCAL_MACHINE, DriverKey());
  return 0;
}
