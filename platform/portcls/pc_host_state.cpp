#include "portcls/pc_host_state.h"

#include <algorithm>
#include <utility>

namespace tarnlink::portcls {

HostState& Host() {
  static HostState state;
  return state;
}

bool IsFrameworkDriver(PDRIVER_OBJECT DriverObject) {
  const std::vector<PDRIVER_OBJECT>& drivers = Host().drivers;
  return std::find(drivers.begin(), drivers.end(), DriverObject) != drivers.end();
}

void SetDispatchObserver(DispatchObserver observer) {
  Host().observer = std::move(observer);
}

void SetInstallsUnloadRoutine(bool installs) {
  Host().installsUnload = installs;
}

ULONG FrameworkUnloadCount() {
  return Host().unloadCount;
}

void ResetHostState() {
  Host() = HostState{};
}

}  // namespace tarnlink::portcls
