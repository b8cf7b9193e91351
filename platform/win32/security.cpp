// Security descriptors as objects shared between processes use them. The machine grants every
// access to every object (a null DACL), so a descriptor only needs to be well formed.
#include "win32/nt_error.h"
#include "win32/securitybaseapi.h"

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         DWORD dwRevision) {
  if (pSecurityDescriptor == nullptr) return tarnlink::win32::FailWithError(ERROR_NOACCESS);
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION)
    return tarnlink::win32::FailWithError(ERROR_UNKNOWN_REVISION);
  *static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor) = {};
  static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                      BOOL bDaclPresent, PACL pDacl, BOOL) {
  auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  if (descriptor == nullptr) return tarnlink::win32::FailWithError(ERROR_NOACCESS);
  if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION)
    return tarnlink::win32::FailWithError(ERROR_UNKNOWN_REVISION);
  descriptor->Dacl = bDaclPresent ? pDacl : nullptr;
  if (bDaclPresent)
    descriptor->Control |= SE_DACL_PRESENT;
  else
    descriptor->Control &= static_cast<SECURITY_DESCRIPTOR_CONTROL>(~SE_DACL_PRESENT);
  return TRUE;
}
