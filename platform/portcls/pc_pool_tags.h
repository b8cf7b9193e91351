// Framework objects live in non-paged pool under the framework's own tags, so the verifier's
// unload check sees a framework object that a driver failed to release.
#pragma once

#include "kernel/ntdef.h"

namespace tarnlink::portcls {

inline constexpr ULONG kPortTag = 0x74506350;       // "PcPt"
inline constexpr ULONG kSubdeviceTag = 0x64536350;  // "PcSd"
inline constexpr ULONG kResourceTag = 0x73526350;   // "PcRs"
inline constexpr ULONG kPortStreamTag = 0x73506350;  // "PcPs"
inline constexpr ULONG kBufferTag = 0x62436350;      // "PcCb": cyclic buffers
inline constexpr ULONG kFilterTag = 0x69466350;      // "PcFi": filter and pin instances

}  // namespace tarnlink::portcls
