// A small in-process server that calls the user-mode APIs the ASIO driver stands on. It is
// compiled against the platform's stand-ins and, by scripts/cross-build, against the Windows
// headers: a call that compiles in one and not the other is a stand-in that differs.
#include "asio_interface.h"
#include "user_mode.h"

namespace {

HMODULE g_module = nullptr;
LONG g_objects = 0;

// Every IASIO slot, overridden: a slot missing or declared differently fails to compile.
class ProbeDriver final : public IASIO {
 public:
  STDMETHODIMP QueryInterface(REFIID, PVOID* object) override {
    *object = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    if (--references_ != 0) return references_;
    delete this;
    return 0;
  }
  ASIOBool init(void*) override { return ASIOTrue; }
  void getDriverName(char* name) override { name[0] = 0; }
  LONG getDriverVersion() override { return 1; }
  void getErrorMessage(char* text) override { text[0] = 0; }
  ASIOError start() override { return ASE_OK; }
  ASIOError stop() override { return ASE_OK; }
  ASIOError getChannels(LONG* in, LONG* out) override {
    *in = *out = 0;
    return ASE_NotPresent;
  }
  ASIOError getLatencies(LONG* in, LONG* out) override {
    *in = *out = 0;
    return ASE_OK;
  }
  ASIOError getBufferSize(LONG* minimum, LONG* maximum, LONG* preferred, LONG* step) override {
    *minimum = *maximum = *preferred = 256;
    *step = 0;
    return ASE_OK;
  }
  ASIOError canSampleRate(ASIOSampleRate) override { return ASE_NoClock; }
  ASIOError getSampleRate(ASIOSampleRate* rate) override {
    *rate = 48000;
    return ASE_OK;
  }
  ASIOError setSampleRate(ASIOSampleRate) override { return ASE_InvalidMode; }
  ASIOError getClockSources(ASIOClockSource* clocks, LONG* count) override {
    clocks[0] = {0, -1, -1, ASIOTrue, "Internal"};
    *count = 1;
    return ASE_OK;
  }
  ASIOError setClockSource(LONG) override { return ASE_OK; }
  ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
    *position = {0, 0};
    *stamp = {0, 0};
    return ASE_OK;
  }
  ASIOError getChannelInfo(ASIOChannelInfo* info) override {
    info->type = ASIOSTInt32LSB;
    return ASE_OK;
  }
  ASIOError createBuffers(ASIOBufferInfo*, LONG, LONG, ASIOCallbacks* callbacks) override {
    ASIOTime time = {};
    time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    time.timeCode.flags = kTcValid | kTcRunning;
    if (callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0)
      callbacks->bufferSwitchTimeInfo(&time, 0, ASIOFalse);
    return ASE_OK;
  }
  ASIOError disposeBuffers() override { return ASE_OK; }
  ASIOError controlPanel() override { return ASE_OK; }
  ASIOError future(LONG selector, void* option) override {
    if (selector == kAsioGetIoFormat && option != nullptr) {
      static_cast<ASIOIoFormat*>(option)->FormatType = kASIOPCMFormat;
      return ASE_SUCCESS;
    }
    return ASE_InvalidParameter;
  }
  ASIOError outputReady() override { return ASE_OK; }

 private:
  ULONG references_ = 1;
};

// The registry as a COM server's registration writes it.
LONG RegisterClassKey(const WCHAR* clsid, const WCHAR* path) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, clsid, 0, nullptr, 0,
                               KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, &disposition);
  if (error != ERROR_SUCCESS) return error;
  HKEY server = nullptr;
  error = RegCreateKeyW(key, WSTR("InprocServer32"), &server);
  if (error == ERROR_SUCCESS) {
    DWORD bytes = 0;
    while (path[bytes / sizeof(WCHAR)] != 0) bytes += sizeof(WCHAR);
    RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), bytes);
    WCHAR name[64];
    DWORD length = 64;
    RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(server);
    RegDeleteKeyW(key, WSTR("InprocServer32"));
  }
  RegCloseKey(key);
  return error;
}

// Discovery as the ASIO driver does it: audio interfaces of one service, by their paths.
int CountDevices() {
  static const GUID kAudio = {
      0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
  HDEVINFO set = SetupDiGetClassDevsW(&kAudio, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kAudio, i, &data); ++i) {
    alignas(8) BYTE buffer[528];
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    DWORD required = 0;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof buffer, &required, &device))
      continue;
    WCHAR text[261];
    DWORD type = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_SERVICE, &type,
                                          reinterpret_cast<PBYTE>(text), sizeof text, nullptr) &&
        SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, nullptr,
                                          reinterpret_cast<PBYTE>(text), sizeof text, nullptr) &&
        SetupDiGetDeviceInstanceIdW(set, &device, text, 261, nullptr))
      ++count;
  }
  SetupDiDestroyDeviceInfoList(set);
  return count;
}

// The class id as registration writes it, and activation as a host does it.
HRESULT CreateThroughCom(REFCLSID clsid) {
  LPOLESTR text = nullptr;
  HRESULT result = StringFromCLSID(clsid, &text);
  if (FAILED(result)) return result;
  CLSID parsed = {};
  result = CLSIDFromString(text, &parsed);
  CoTaskMemFree(text);
  if (FAILED(result)) return result;
  result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IUnknown* object = nullptr;
  if (SUCCEEDED(result))
    result = CoCreateInstance(parsed, nullptr, CLSCTX_INPROC_SERVER, parsed,
                              reinterpret_cast<LPVOID*>(&object));
  if (object != nullptr) object->Release();
  CoUninitialize();
  return result;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    OutputDebugStringW(WSTR("DLL_PROCESS_ATTACH\n\n"));
    DisableThreadLibraryCalls(instance);
    g_module = instance;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID, LPVOID* object) {
  *object = nullptr;
  return CountDevices() > 0 ? CreateThroughCom(clsid) : CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
  return InterlockedCompareExchange(&g_objects, 0, 0) == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  WCHAR path[MAX_PATH];
  HMODULE module = GetModuleHandleW(WSTR("Tarnlink_probe.dll"));
  if (module == nullptr || GetModuleFileNameW(module, path, MAX_PATH) == 0) return E_FAIL;
  return RegisterClassKey(WSTR("CLSID\\{D71BCB38-F7DA-416D-9D6F-624AC7C5BA53}"), path) ==
                 ERROR_SUCCESS
             ? S_OK
             : E_FAIL;
}

STDAPI DllUnregisterServer() {
  IASIO* driver = new ProbeDriver();
  driver->Release();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WSTR("SOFTWARE\\Velmor\\Tarnlink Setup"), 0,
                    KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    WCHAR panel[128];
    DWORD type = 0;
    DWORD bytes = sizeof panel;
    if (RegQueryValueExW(key, WSTR("ControlPanel"), nullptr, &type,
                         reinterpret_cast<LPBYTE>(panel), &bytes) == ERROR_SUCCESS &&
        type == REG_SZ) {
      STARTUPINFOW startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process = {};
      if (CreateProcessW(panel, nullptr, nullptr, nullptr, FALSE,
                         CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                         &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
      }
    }
    RegCloseKey(key);
  }
  return S_OK;
}
