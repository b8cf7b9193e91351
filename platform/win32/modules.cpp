// Modules: the machine's table of loadable modules, loaded per process with DllMain calls at
// the first load and the last free.
#include <string>

#include "kernel/ps.h"
#include "kernel/ps_process.h"
#include "kernel/registry_names.h"
#include "win32/errhandlingapi.h"
#include "win32/libloaderapi.h"
#include "win32/nt_error.h"
#include "win32/win32_state.h"

using tarnlink::win32::FailWithError;
using tarnlink::win32::ModuleRecord;
using tarnlink::win32::State;

namespace {

// The handle of a process's own program image.
const HMODULE kProgramModule = reinterpret_cast<HMODULE>(ULONG_PTR{0x140000000});

ULONG_PTR CurrentProcessId() {
  return reinterpret_cast<ULONG_PTR>(PsGetCurrentProcessId());
}

std::u16string FileNamePart(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

// Whether Name (a full path or a bare file name, ".dll" implied without an extension) names
// the module.
bool Names(const ModuleRecord& module, std::u16string_view name) {
  std::u16string wanted(name);
  if (FileNamePart(wanted).find(u'.') == std::u16string::npos) wanted += u".dll";
  const std::u16string folded = host::FoldRegistryName(wanted);
  const std::u16string& path = module.definition.path;
  return folded == host::FoldRegistryName(path) ||
         folded == host::FoldRegistryName(FileNamePart(path));
}

ModuleRecord* FindLocked(State& state, std::u16string_view name) {
  for (auto& module : state.modules)
    if (Names(*module, name)) return module.get();
  return nullptr;
}

ModuleRecord* FindLocked(State& state, HMODULE handle) {
  for (auto& module : state.modules)
    if (module->handle == handle) return module.get();
  return nullptr;
}

}  // namespace

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  State& state = tarnlink::win32::MachineState();
  ModuleRecord* module;
  bool first;
  {
    std::lock_guard guard(state.lock);
    module = FindLocked(state, lpLibFileName);
    if (module == nullptr) {
      FailWithError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    first = module->loadCounts[CurrentProcessId()]++ == 0;
  }
  if (first && module->definition.dllMain != nullptr &&
      !module->definition.dllMain(module->handle, DLL_PROCESS_ATTACH, nullptr)) {
    std::lock_guard guard(state.lock);
    module->loadCounts.erase(CurrentProcessId());
    FailWithError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return module->handle;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  State& state = tarnlink::win32::MachineState();
  ModuleRecord* module;
  {
    std::lock_guard guard(state.lock);
    module = FindLocked(state, hLibModule);
    if (module == nullptr || module->loadCounts[CurrentProcessId()] == 0)
      return FailWithError(ERROR_MOD_NOT_FOUND);
    if (--module->loadCounts[CurrentProcessId()] != 0) return TRUE;
  }
  if (module->definition.dllMain != nullptr)
    module->definition.dllMain(module->handle, DLL_PROCESS_DETACH, nullptr);
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  ModuleRecord* module = FindLocked(state, hModule);
  if (module == nullptr || lpProcName == nullptr) {
    FailWithError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  for (const auto& [name, address] : module->definition.exports)
    if (name == lpProcName) return address;
  FailWithError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName == nullptr) return kProgramModule;
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  ModuleRecord* module = FindLocked(state, lpModuleName);
  if (module == nullptr || module->loadCounts[CurrentProcessId()] == 0) {
    FailWithError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return module->handle;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::u16string path;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    if (hModule == nullptr || hModule == kProgramModule) {
      auto it = state.imagePaths.find(CurrentProcessId());
      if (it != state.imagePaths.end()) {
        path = it->second;
      } else {
        path = u"C:\\";
        for (const char* c = PsGetCurrentProcess()->ImageFileName; *c != 0; ++c) path += *c;
      }
    } else if (ModuleRecord* module = FindLocked(state, hModule)) {
      path = module->definition.path;
    } else {
      FailWithError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
  }
  if (lpFilename == nullptr || nSize == 0) {
    FailWithError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // A buffer too small gets as much as fits, with the terminator, and the error.
  if (path.size() >= nSize) {
    path.copy(lpFilename, nSize - 1);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  path.copy(lpFilename, path.size());
  lpFilename[path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) {
  // Modules here get no thread notifications at all.
  return TRUE;
}

namespace tarnlink::win32 {

HMODULE RegisterModule(ModuleDefinition definition) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  auto module = std::make_unique<ModuleRecord>();
  module->definition = std::move(definition);
  module->handle = reinterpret_cast<HMODULE>(state.nextModuleHandle);
  state.nextModuleHandle += 0x1000000;
  state.modules.push_back(std::move(module));
  return state.modules.back()->handle;
}

}  // namespace tarnlink::win32
