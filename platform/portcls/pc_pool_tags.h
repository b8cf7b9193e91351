// Framework objects live in non-paged pool under the framework's own tags, so the verifier's
// unload check sees a framework object that a driver failed to release.
#pragma once

#include "kernel/ntdef.h"

namespace tarnlink::portcls {

inline constexpr ULONG kPortTag = 0x74506350;       // "PcPt"
inline constexpr ULONG kSubdeviceTag = 0x64536350;  // "PcSd"
inline constexpr ULONG kResourceTag = 0x73526350;   // "PcRs"

}  // namespace tarnlink::portcls
