#include "driver_settings.h"

DriverSettings g_DriverSettings = {NonPagedPool, NonPagedPool, NormalPagePriority};

VOID ChooseDriverSettings() {
  if (RtlIsNtDdiVersionAvailable(NTDDI_WIN8)) {
    g_DriverSettings = {NonPagedPoolNx, NonPagedPoolNx, NormalPagePriority | MdlMappingNoExecute};
  } else {
    g_DriverSettings = {NonPagedPool, NonPagedPool, NormalPagePriority};
  }
}
