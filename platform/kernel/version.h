// RtlIsNtDdiVersionAvailable and the Windows version the machine presents to drivers.
#pragma once

#include "kernel/ntdef.h"

#define NTDDI_WIN7 0x06010000
#define NTDDI_WIN8 0x06020000
#define NTDDI_WINBLUE 0x06030000
#define NTDDI_WIN10 0x0A000000

// TRUE when the running system is at least the given NTDDI version.
BOOLEAN RtlIsNtDdiVersionAvailable(ULONG Version);

// Host side: the machine (or a test) chooses which Windows it pretends to be. Windows 10 by
// default; any of the four NTDDI values above is accepted.
void HostSetWindowsVersion(ULONG NtddiVersion);
ULONG HostWindowsVersion();
