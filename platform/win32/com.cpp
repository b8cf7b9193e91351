// COM in-process activation: CoCreateInstance reads the server's path from the registry, loads
// the module from the machine's table and asks its class factory, as the COM runtime does.
#include <cstdlib>
#include <string>

#include "kernel/registry_store.h"
#include "win32/errhandlingapi.h"
#include "win32/libloaderapi.h"
#include "win32/objbase.h"
#include "win32/win32_state.h"
#include "win32/winerror.h"

namespace {

constexpr char16_t kHex[] = u"0123456789ABCDEF";

std::u16string GuidString(const GUID& guid) {
  std::u16string text = u"{";
  auto hex = [&](ULONG value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += kHex[(value >> shift) & 0xF];
  };
  hex(guid.Data1, 8);
  text += u'-';
  hex(guid.Data2, 4);
  text += u'-';
  hex(guid.Data3, 4);
  text += u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text += u'-';
    hex(guid.Data4[i], 2);
  }
  return text + u"}";
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Parses exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
bool ParseGuid(std::u16string_view text, GUID* guid) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  size_t at = 1;
  auto read = [&](int digits, ULONG* value) {
    *value = 0;
    for (int i = 0; i < digits; ++i) {
      const int digit = HexDigit(text[at++]);
      if (digit < 0) return false;
      *value = *value << 4 | static_cast<ULONG>(digit);
    }
    return true;
  };
  auto dash = [&] { return text[at++] == u'-'; };
  ULONG a, b, c, d;
  if (!read(8, &a) || !dash() || !read(4, &b) || !dash() || !read(4, &c) || !dash()) return false;
  GUID result = {a, static_cast<USHORT>(b), static_cast<USHORT>(c), {}};
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !dash()) return false;
    if (!read(2, &d)) return false;
    result.Data4[i] = static_cast<UCHAR>(d);
  }
  *guid = result;
  return true;
}

// The registered in-process server of a class, or empty.
std::u16string ServerPath(REFCLSID clsid) {
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key = registry.Open(registry.Root(host::RegistryRoot::ClassesRoot),
                                           u"CLSID\\" + GuidString(clsid) + u"\\InprocServer32");
  host::RegistryValue value;
  if (key == nullptr || !NT_SUCCESS(registry.QueryValue(key, u"", &value)) ||
      (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
    return {};
  std::u16string path(reinterpret_cast<const char16_t*>(value.data.data()),
                      value.data.size() / sizeof(char16_t));
  return path.substr(0, path.find(u'\0'));
}

}  // namespace

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD dwCoInit) {
  tarnlink::win32::ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  const int apartment = (dwCoInit & COINIT_APARTMENTTHREADED) != 0 ? COINIT_APARTMENTTHREADED
                                                                     : COINIT_MULTITHREADED;
  if (self.comInitCount != 0 && self.comApartment != apartment) return RPC_E_CHANGED_MODE;
  self.comApartment = apartment;
  return self.comInitCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize() {
  tarnlink::win32::ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  if (self.comInitCount != 0 && --self.comInitCount == 0) self.comApartment = -1;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (tarnlink::win32::CurrentThreadRecord().comInitCount == 0) return CO_E_NOTINITIALIZED;
  if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  const std::u16string path = ServerPath(rclsid);
  if (path.empty()) return REGDB_E_CLASSNOTREG;
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) return CO_E_DLLNOTFOUND;
  auto getClassObject =
      reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  if (getClassObject == nullptr) return CO_E_ERRORINDLL;
  IClassFactory* factory = nullptr;
  HRESULT result =
      getClassObject(rclsid, IID_IClassFactory, reinterpret_cast<LPVOID*>(&factory));
  if (FAILED(result)) return result;
  result = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  // The module stays loaded: the runtime frees unused servers only when asked.
  return result;
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (lplpsz == nullptr) return E_INVALIDARG;
  const std::u16string text = GuidString(rclsid);
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  text.copy(copy, text.size());
  copy[text.size()] = 0;
  *lplpsz = copy;
  return S_OK;
}

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  const std::u16string text = GuidString(rguid);
  if (lpsz == nullptr || cchMax < static_cast<int>(text.size() + 1)) return 0;
  text.copy(lpsz, text.size());
  lpsz[text.size()] = 0;
  return static_cast<int>(text.size() + 1);
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (lpsz == nullptr || pclsid == nullptr) return E_INVALIDARG;
  return ParseGuid(lpsz, pclsid) ? NOERROR : CO_E_CLASSSTRING;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
  return std::malloc(cb == 0 ? 1 : cb);
}

void WINAPI CoTaskMemFree(LPVOID pv) {
  std::free(pv);
}
