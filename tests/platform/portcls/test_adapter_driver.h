// A small adapter driver on the framework for its tests: its start routine registers an
// adapter for power management and one WaveRT subdevice, as scripted by the test, and its
// objects count their references so a test sees what the framework holds.
#pragma once

#include <string>
#include <vector>

#include "kernel_mode.h"

namespace tarnlink::portcls::testing {

struct TestDriverScript {
  ULONG extensionSize = 600;
  ULONG maxObjects = 1;
  std::u16string subdeviceName = u"Wave";
  bool registerPower = true;
  NTSTATUS miniportInit = STATUS_SUCCESS;
  NTSTATUS startResult = STATUS_SUCCESS;  // returned after the registrations
  NTSTATUS queryPower = STATUS_SUCCESS;
};

struct TestDriverLog {
  LONG adapterReferences = 0;
  LONG miniportReferences = 0;
  ULONG starts = 0;
  NTSTATUS powerRegistration = STATUS_PENDING;
  NTSTATUS portInit = STATUS_PENDING;
  NTSTATUS subdeviceRegistration = STATUS_PENDING;
  PUNKNOWN miniportSawAdapter = nullptr;
  PPORTWAVERT miniportSawPort = nullptr;
  std::vector<DEVICE_POWER_STATE> powerChanges;
  ULONG capabilityQueries = 0;
  PDEVICE_OBJECT startedDevice = nullptr;
  PPORT port = nullptr;  // the started port, kept referenced by the test driver
};

extern TestDriverScript g_Script;
extern TestDriverLog g_Log;

NTSTATUS TestDriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
// Releases the port reference the start kept.
void ReleaseTestPort();

}  // namespace tarnlink::portcls::testing
