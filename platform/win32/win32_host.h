// The Win32 layer, host side: what the simulated machine and tests tell it (the modules and
// programs it can load and start, device power) and what they can read back (debug output).
// Product code never includes this header.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "win32/libloaderapi.h"

namespace tarnlink::win32 {

// A module the machine can "load": its file name (the full path GetModuleFileNameW reports)
// and its exports by name. DllMain, when present, is called with DLL_PROCESS_ATTACH at the
// first load in a process and DLL_PROCESS_DETACH at the last free.
using DllMainFunction = BOOL (*)(HINSTANCE instance, DWORD reason, LPVOID reserved);
struct ModuleDefinition {
  std::u16string path;  // e.g. C:\Program Files\Velmor\Tarnlink_asio.dll
  DllMainFunction dllMain = nullptr;
  std::vector<std::pair<std::string, FARPROC>> exports;
};
// Registers a module with the current machine; returns its module handle.
HMODULE RegisterModule(ModuleDefinition definition);

// A program CreateProcessW can start: it runs as the main thread of a new process and its
// return value is the process's exit code.
using ProgramEntry = std::function<DWORD(const std::u16string& commandLine)>;
void RegisterProgram(std::u16string path, ProgramEntry entry);

// A resource of a program or module image: its type and name, each a number (MAKEINTRESOURCE)
// or a text, and its bytes.
struct ResourceDefinition {
  std::u16string type;  // "#3" for a number, else the name
  std::u16string name;
  std::vector<BYTE> bytes;
};
// Gives the image at path (a program's or a module's) its resources.
void RegisterResources(std::u16string path, std::vector<ResourceDefinition> resources);
// The key FindResourceW looks a type or name up by: "#n" for a number, the text otherwise.
std::u16string ResourceKey(LPCWSTR typeOrName);

// Every text written with OutputDebugString on this machine, oldest first.
std::vector<std::u16string> DebugOutput();

// Whether the device (any device object of its stack) is in its working state, as
// GetDevicePowerState reports it; devices are on until told otherwise.
void SetDevicePower(PVOID deviceObject, bool on);

// Sends WM_POWERBROADCAST with Event (PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC) to every
// top-level window; each window's thread handles it before its posted messages.
void BroadcastPower(WPARAM Event);

}  // namespace tarnlink::win32
