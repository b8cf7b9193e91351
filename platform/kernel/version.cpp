#include "kernel/version.h"

#include <atomic>

namespace {
std::atomic<ULONG> g_windows_version{NTDDI_WIN10};
}  // namespace

BOOLEAN RtlIsNtDdiVersionAvailable(ULONG Version) {
  return Version <= g_windows_version.load() ? TRUE : FALSE;
}

void HostSetWindowsVersion(ULONG NtddiVersion) {
  g_windows_version.store(NtddiVersion);
}

ULONG HostWindowsVersion() {
  return g_windows_version.load();
}
