#include "driver_settings.h"

DriverSettings g_DriverSettings = {NonPagedPool, NonPagedPool, NormalPagePriority};

DriverSettings SettingsForSystem() {
  if (RtlIsNtDdiVersionAvailable(NTDDI_WIN8)) {
    return {NonPagedPoolNx, NonPagedPoolNx, NormalPagePriority | MdlMappingNoExecute};
  }
  return {NonPagedPool, NonPagedPool, NormalPagePriority};
}

VOID ChooseDriverSettings() {
  g_DriverSettings = SettingsForSystem();
}
