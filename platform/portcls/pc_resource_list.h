// The resource list handed to the start routine. USB audio devices have no hardware resources
// of their own, so the framework's list is empty.
#pragma once

#include "portcls/portcls.h"

namespace tarnlink::portcls {

// A new empty list with one reference, or null when the pool is exhausted.
PRESOURCELIST NewEmptyResourceList();

}  // namespace tarnlink::portcls
