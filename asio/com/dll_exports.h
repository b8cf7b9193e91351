// The exports of Tarnlink_asio.dll, by which the COM runtime, regsvr32 and the loader reach the
// server.
#pragma once

#include "server_identity.h"
#include "user_mode.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
