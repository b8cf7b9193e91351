#include "single_host_objects.h"

HANDLE CreateInstanceMutex() {
  // A null DACL: hosts and the control panel may run as different users.
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
    return nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, TRUE};
  return CreateMutexW(&attributes, FALSE, kInstanceMutexName);
}

InstanceLock::InstanceLock(HANDLE mutex) : mutex_(mutex) {
  const DWORD result = WaitForSingleObject(mutex_, INFINITE);
  held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

InstanceLock::~InstanceLock() {
  if (held_) ReleaseMutex(mutex_);
}
