// The framework, host side: what tests and the simulated machine may watch and choose.
// Product code never includes this header.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "portcls/portcls.h"

namespace tarnlink::portcls {

// A request as it reached PcDispatchIrp, before the framework acted on it.
struct DispatchedRequest {
  PDEVICE_OBJECT device = nullptr;
  UCHAR major = 0;
  UCHAR minor = 0;
  ULONG ioControlCode = 0;  // device controls only
  ULONG inputLength = 0;
  ULONG outputLength = 0;
  PVOID systemBuffer = nullptr;
  PFILE_OBJECT file = nullptr;
  std::u16string fileName;
};
using DispatchObserver = std::function<void(const DispatchedRequest&)>;

// Called for every request PcDispatchIrp receives; an empty function stops watching.
void SetDispatchObserver(DispatchObserver observer);

// Some framework versions install no unload routine of their own; drivers must cope.
void SetInstallsUnloadRoutine(bool installs);
// How often the framework's unload routine ran since the last reset.
ULONG FrameworkUnloadCount();

struct SubdeviceInfo {
  std::u16string name;          // the reference string
  std::u16string symbolicLink;  // of its KSCATEGORY_AUDIO interface
};
// The subdevices registered on a device the framework created, in registration order.
std::vector<SubdeviceInfo> Subdevices(PDEVICE_OBJECT functionalDevice);

// Back to the state of a freshly started machine.
void ResetHostState();

}  // namespace tarnlink::portcls
