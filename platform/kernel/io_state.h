// The machine-wide state of the I/O side (namespace, PnP records, registry), host side.
#pragma once

namespace tarnlink::io {
// Back to a fresh machine: an empty namespace, no device nodes or interfaces, an empty
// registry. The machine calls it when it starts; tests call it between cases.
void ResetIoState();
}  // namespace tarnlink::io
