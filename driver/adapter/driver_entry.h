// The driver's entry point and the driver-wide state it keeps.
#pragma once

#include "kernel_mode.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

// The physical device object of the most recent successful add-device.
extern PDEVICE_OBJECT g_PhysicalDeviceObject;
