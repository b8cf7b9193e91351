// What the Win32 layer keeps for one machine: per-thread records (last error, termination),
// the modules and programs the machine can load and start, the debug output, and the power
// state of devices. Host side; the state lives as long as the machine does and a new machine
// starts with an empty one.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/ke_types.h"
#include "kernel/preemption_hold.h"
#include "win32/win32_host.h"

namespace tarnlink::win32 {

struct ThreadRecord {
  DWORD lastError = 0;
  DWORD exitCode = 0;
  bool started = false;   // a CreateThread thread that has begun its start routine
  bool ended = false;
  ULONG suspendCount = 0;
  KEVENT resumed{};       // set while the suspend count is 0
  bool terminateRequested = false;
  DWORD terminateExitCode = 0;
  bool inUserWait = false;  // blocked in a Win32 wait, where termination may interrupt it
  bool inMmTask = false;  // joined the multimedia class scheduler's task
  KPRIORITY priorityBeforeTask = 0;
  int comApartment = -1;  // the COINIT model the thread initialised COM with, or -1
  ULONG comInitCount = 0;
};

struct KeyNotify;      // registry_notify.cpp
struct DeviceInfoSet;  // setupapi.cpp
struct WindowSystem;   // window_system.h
struct Gdi;            // gdi_state.h

struct ModuleRecord {
  ModuleDefinition definition;
  HMODULE handle = nullptr;
  std::map<ULONG_PTR, ULONG> loadCounts;  // by process id
};

// The lock of the state: recursive, and no seeded preemption while it is held.
class StateLock {
 public:
  void lock() {
    mutex_.lock();
    kernel::HoldPreemption();
  }
  void unlock() {
    kernel::ReleasePreemption();
    mutex_.unlock();
  }

 private:
  std::recursive_mutex mutex_;
};

struct State {
  StateLock lock;  // guards the maps; never held while blocking or calling out
  std::map<ULONG, std::unique_ptr<ThreadRecord>> threads;  // by thread id
  std::vector<std::unique_ptr<ModuleRecord>> modules;
  std::map<std::u16string, ProgramEntry> programs;  // by folded path
  std::map<ULONG_PTR, std::u16string> imagePaths;     // of started programs, by process id
  std::map<ULONG_PTR, DWORD> processExitCodes;        // of ended programs, by process id
  std::map<ULONG_PTR, PEPROCESS> runningPrograms;     // started programs still running
  std::vector<std::u16string> debugOutput;
  std::map<PVOID, bool> devicesOff;  // device objects not in D0
  std::map<PVOID, std::shared_ptr<DeviceInfoSet>> deviceInfoSets;  // by HDEVINFO
  std::shared_ptr<WindowSystem> windowSystem;  // made on first use
  std::shared_ptr<Gdi> gdi;                    // made on first use
  // Registry notification per key handle, by (process id, handle).
  std::map<std::pair<ULONG_PTR, HANDLE>, std::shared_ptr<KeyNotify>> keyNotifies;
  ULONG_PTR nextModuleHandle = 0x180000000;
  // Resources by folded image path.
  std::map<std::u16string, std::vector<std::unique_ptr<ResourceDefinition>>> resources;
};

// The state of the current machine, made on first use.
State& MachineState();
// The record of the calling thread, made on first use; stable while the machine lives.
ThreadRecord& CurrentThreadRecord();
ThreadRecord* ThreadRecordById(ULONG id);

}  // namespace tarnlink::win32
