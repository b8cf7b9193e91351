// The framework's host-side settings and observers, shared by its parts.
#pragma once

#include "portcls/portcls_host.h"

namespace tarnlink::portcls {

struct HostState {
  DispatchObserver observer;
  bool installsUnload = true;
  ULONG unloadCount = 0;
};
HostState& Host();

}  // namespace tarnlink::portcls
