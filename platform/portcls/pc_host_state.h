// The framework's host-side settings and observers, shared by its parts.
#pragma once

#include <vector>

#include "portcls/portcls_host.h"

namespace tarnlink::portcls {

struct HostState {
  DispatchObserver observer;
  bool installsUnload = true;
  ULONG unloadCount = 0;
  std::vector<PDRIVER_OBJECT> drivers;  // initialised through PcInitializeAdapterDriver
};
HostState& Host();
// Whether the driver was set up through PcInitializeAdapterDriver (and is not unloaded).
bool IsFrameworkDriver(PDRIVER_OBJECT DriverObject);

}  // namespace tarnlink::portcls
