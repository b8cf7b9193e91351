#include "dll_exports.h"

#include <new>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "class_factory.h"
#include "driver/orv_asio_driver.h"
#include "live_driver.h"
#include "registration.h"

namespace {

HMODULE g_module = nullptr;

CUnknown* CreateDriver(IUnknown* outer, HRESULT*) {
  // One driver object per process: a second one would fight the first over the devices.
  auto* driver = new (std::nothrow) COrvAsioDriver(outer);
  if (driver == nullptr) return nullptr;
  if (!ClaimLiveDriver(driver)) {
    AsioTrace(kTraceSecondDriverObject);
    delete driver;
    return nullptr;
  }
  return driver;
}

void RunInitRoutines(BOOL loading) {
  for (int i = 0; i < g_cTemplates; ++i) {
    if (g_Templates[i].init != nullptr) g_Templates[i].init(loading);
  }
}

}  // namespace

const CFactoryTemplate g_Templates[] = {
    {WSTR("OrvAsioDriver"), &kDriverClsid, CreateDriver, nullptr, nullptr},
};
const int g_cTemplates = sizeof g_Templates / sizeof g_Templates[0];

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory))
    return E_NOINTERFACE;
  const CFactoryTemplate* row = FindTemplate(rclsid);
  if (row == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) CClassFactory(row);
  if (factory == nullptr) return E_OUTOFMEMORY;
  factory->AddRef();
  *ppv = factory;
  return S_OK;
}

STDAPI DllCanUnloadNow() {
  return CClassFactory::ServerLocks() > 0 || CBaseObject::ObjectCount() != 0 ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
  const LONG result = RegisterAsioDriver();
  if (result != 0) AsioTrace(kTraceRegistrationFailed, result);
  return result == 0 ? S_OK : E_FAIL;
}

STDAPI DllUnregisterServer() {
  const LONG result = UnregisterAsioDriver();
  if (result != 0) AsioTrace(kTraceRegistrationFailed, result);
  return result == 0 ? S_OK : E_FAIL;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    OutputDebugStringW(WSTR("DLL_PROCESS_ATTACH\n\n"));
    DisableThreadLibraryCalls(instance);
    g_module = instance;
    RunInitRoutines(TRUE);
  } else if (reason == DLL_PROCESS_DETACH) {
    OutputDebugStringW(WSTR("DLL_PROCESS_DETACH\n\n"));
    RunInitRoutines(FALSE);
  }
  return TRUE;
}
