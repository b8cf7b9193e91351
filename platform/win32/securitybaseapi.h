// Security descriptors, as far as objects shared between processes need them: an absolute
// descriptor with a null DACL grants everyone every access.
#pragma once

#include "win32/windef.h"

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         DWORD dwRevision);
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                      BOOL bDaclPresent, PACL pDacl, BOOL bDaclDefaulted);
