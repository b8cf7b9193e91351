#include "portcls/pc_host_state.h"

#include <utility>

namespace tarnlink::portcls {

HostState& Host() {
  static HostState state;
  return state;
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
