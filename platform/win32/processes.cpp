// Processes: CreateProcessW starts a program registered with the machine as the main thread of
// a new logical process (its own handle table), on its own machine thread.
#include <string>

#include "kernel/ke.h"
#include "kernel/ob_host.h"
#include "kernel/ps.h"
#include "kernel/ps_process.h"
#include "kernel/registry_names.h"
#include "win32/errhandlingapi.h"
#include "win32/named_objects.h"
#include "win32/nt_error.h"
#include "win32/fileapi.h"
#include "win32/processthreadsapi.h"
#include "win32/user_threads.h"

using tarnlink::win32::FailWith;
using tarnlink::win32::FailWithError;
using tarnlink::win32::State;

namespace {

// The program a command line starts: its first word, or the quoted text at its start.
std::u16string ProgramOf(std::u16string_view commandLine) {
  if (!commandLine.empty() && commandLine.front() == u'"') {
    const size_t end = commandLine.find(u'"', 1);
    return std::u16string(commandLine.substr(1, end == std::u16string_view::npos ? end : end - 1));
  }
  return std::u16string(commandLine.substr(0, commandLine.find(u' ')));
}

std::string ImageName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  std::string image;
  for (char16_t c : name) image += c < 0x80 ? static_cast<char>(c) : '?';
  return image;
}

}  // namespace

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                           DWORD dwCreationFlags, LPVOID, LPCWSTR,
                           LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if (lpStartupInfo == nullptr || lpProcessInformation == nullptr ||
      (lpApplicationName == nullptr && lpCommandLine == nullptr))
    return FailWithError(ERROR_INVALID_PARAMETER);
  const std::u16string commandLine = lpCommandLine != nullptr ? lpCommandLine : u"";
  const std::u16string path =
      lpApplicationName != nullptr ? std::u16string(lpApplicationName) : ProgramOf(commandLine);
  State& state = tarnlink::win32::MachineState();
  tarnlink::win32::ProgramEntry entry;
  {
    std::lock_guard guard(state.lock);
    auto it = state.programs.find(host::FoldRegistryName(path));
    if (it == state.programs.end()) return FailWithError(ERROR_FILE_NOT_FOUND);
    entry = it->second;
  }
  PEPROCESS process = nullptr;
  NTSTATUS status = PsHostCreateProcess(ImageName(path).c_str(), &process);
  if (!NT_SUCCESS(status)) return FailWith(status);
  const auto processId = reinterpret_cast<ULONG_PTR>(PsGetProcessId(process));
  {
    std::lock_guard guard(state.lock);
    state.imagePaths[processId] = path;
    state.runningPrograms[processId] = process;
  }
  HANDLE processHandle = nullptr;
  status = ObHostInsertHandle(PsGetCurrentProcess(), process, PROCESS_ALL_ACCESS, 0,
                              &processHandle);
  if (!NT_SUCCESS(status)) {
    ObDereferenceObject(process);
    return FailWith(status);
  }
  // The main thread holds the creation reference; when the program returns, the process ends
  // (its handles close) and the thread leaves it for the System process to finish.
  DWORD threadId = 0;
  HANDLE threadHandle = tarnlink::win32::StartUserThread(
      process,
      [entry, commandLine, process, processId]() -> DWORD {
        const DWORD code = entry(commandLine);
        State& machine = tarnlink::win32::MachineState();
        {
          std::lock_guard guard(machine.lock);
          machine.processExitCodes[processId] = code;
          machine.runningPrograms.erase(processId);
        }
        PsHostTerminateProcess(process);
        PsHostSetThreadProcess(KeGetCurrentThread(), PsInitialSystemProcess);
        ObDereferenceObject(process);
        return code;
      },
      (dwCreationFlags & CREATE_SUSPENDED) != 0, 0, &threadId);
  if (threadHandle == nullptr) {
    const DWORD error = GetLastError();
    CloseHandle(processHandle);
    PsHostTerminateProcess(process);
    ObDereferenceObject(process);
    return FailWithError(error);
  }
  lpProcessInformation->hProcess = processHandle;
  lpProcessInformation->hThread = threadHandle;
  lpProcessInformation->dwProcessId = static_cast<DWORD>(processId);
  lpProcessInformation->dwThreadId = threadId;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  if (lpExitCode == nullptr) return FailWithError(ERROR_INVALID_PARAMETER);
  PVOID object =
      tarnlink::win32::ReferenceHandle(hProcess, *PsProcessType, PROCESS_QUERY_INFORMATION);
  if (object == nullptr) return FALSE;
  auto* process = static_cast<PEPROCESS>(object);
  const auto processId = reinterpret_cast<ULONG_PTR>(PsGetProcessId(process));
  const bool ended = process->Header.SignalState != 0;
  ObDereferenceObject(object);
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  auto it = state.processExitCodes.find(processId);
  *lpExitCode = ended && it != state.processExitCodes.end() ? it->second : STILL_ACTIVE;
  return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
  PEPROCESS process = nullptr;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    if (dwProcessId == GetCurrentProcessId()) {
      process = PsGetCurrentProcess();
    } else {
      auto it = state.runningPrograms.find(dwProcessId);
      if (it != state.runningPrograms.end()) process = it->second;
    }
    // The handle takes its own reference while the program still holds the process.
    if (process == nullptr) {
      FailWithError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    ObReferenceObject(process);
  }
  HANDLE handle = nullptr;
  const NTSTATUS status = ObHostInsertHandle(PsGetCurrentProcess(), process, dwDesiredAccess,
                                             bInheritHandle ? OBJ_INHERIT : 0, &handle);
  ObDereferenceObject(process);
  if (!NT_SUCCESS(status)) {
    FailWith(status);
    return nullptr;
  }
  return handle;
}

BOOL WINAPI QueryFullProcessImageNameW(HANDLE hProcess, DWORD, LPWSTR lpExeName,
                                       PDWORD lpdwSize) {
  if (lpExeName == nullptr || lpdwSize == nullptr) return FailWithError(ERROR_INVALID_PARAMETER);
  PVOID object = tarnlink::win32::ReferenceHandle(hProcess, *PsProcessType,
                                                  PROCESS_QUERY_LIMITED_INFORMATION);
  if (object == nullptr) return FALSE;
  auto* process = static_cast<PEPROCESS>(object);
  const auto processId = reinterpret_cast<ULONG_PTR>(PsGetProcessId(process));
  std::u16string path = u"C:\\";
  for (const char* c = process->ImageFileName; *c != 0; ++c) path += static_cast<char16_t>(*c);
  ObDereferenceObject(object);
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    auto it = state.imagePaths.find(processId);
    if (it != state.imagePaths.end()) path = it->second;
  }
  if (path.size() >= *lpdwSize) return FailWithError(ERROR_INSUFFICIENT_BUFFER);
  path.copy(lpExeName, path.size());
  lpExeName[path.size()] = 0;
  *lpdwSize = static_cast<DWORD>(path.size());
  return TRUE;
}

namespace tarnlink::win32 {

void RegisterProgram(std::u16string path, ProgramEntry entry) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  state.programs[host::FoldRegistryName(path)] = std::move(entry);
}

}  // namespace tarnlink::win32
