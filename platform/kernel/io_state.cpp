#include "kernel/io_state.h"

#include "kernel/namespace.h"
#include "kernel/pnp_host.h"
#include "kernel/registry_store.h"

namespace tarnlink::io {

void ResetIoState() {
  ResetNamespace();
  ResetPnp();
  host::MachineRegistry().Clear();
}

}  // namespace tarnlink::io
