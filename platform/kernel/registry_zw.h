// The kernel's registry calls, served from the machine's registry store.
#pragma once

#include "kernel/ob.h"
#include "kernel/registry_types.h"

extern POBJECT_TYPE* CmKeyObjectType;

// ObjectAttributes names the key: absolute (\Registry\Machine\...) or relative to RootDirectory.
NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                     POBJECT_ATTRIBUTES ObjectAttributes, ULONG TitleIndex, PUNICODE_STRING Class,
                     ULONG CreateOptions, PULONG Disposition);
NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                   POBJECT_ATTRIBUTES ObjectAttributes);
// Size queries: with Length below the fixed part the result is STATUS_BUFFER_TOO_SMALL; with
// room for the fixed part but not the rest, the fixed part and as much as fits are written and
// the result is STATUS_BUFFER_OVERFLOW. *ResultLength is always the length needed.
NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                         PVOID KeyValueInformation, ULONG Length, PULONG ResultLength);
NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type,
                       PVOID Data, ULONG DataSize);
NTSTATUS ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName);
NTSTATUS ZwDeleteKey(HANDLE KeyHandle);
NTSTATUS ZwFlushKey(HANDLE KeyHandle);
