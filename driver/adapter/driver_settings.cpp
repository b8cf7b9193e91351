#include "driver_settings.h"

DriverSettings g_DriverSettings = {NonPagedPool, NonPagedPool, kNormalPagePriority};

VOID ChooseDriverSettings() {
  if (RtlIsNtDdiVersionAvailable(NTDDI_WIN8)) {
    g_DriverSettings = {NonPagedPoolNx, NonPagedPoolNx, kNormalPagePriority | kMdlMappingNoExecute};
  } else {
    g_DriverSettings = {NonPagedPool, NonPagedPool, kNormalPagePriority};
  }
}
