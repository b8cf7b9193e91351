// COM (objbase.h, combaseapi.h): apartments, in-process servers found through
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 and loaded from the machine's module table,
// class id strings and task memory.
#pragma once

#include "win32/unknwn.h"
#include "win32/windef.h"

typedef enum tagCOINIT {
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_MULTITHREADED = 0x0,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
               CLSCTX_REMOTE_SERVER
} CLSCTX;

typedef HRESULT(STDAPICALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
HRESULT WINAPI CoInitialize(LPVOID pvReserved);
void WINAPI CoUninitialize();
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv);
HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
void WINAPI CoTaskMemFree(LPVOID pv);
