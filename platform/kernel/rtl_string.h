// Counted UTF-16 strings. Lengths are in bytes, as everywhere in the kernel.
#pragma once

#include "kernel/ntdef.h"

typedef struct _UNICODE_STRING {
  USHORT Length;         // bytes in use, without a terminator
  USHORT MaximumLength;  // bytes in Buffer
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

typedef struct _STRING {
  USHORT Length;
  USHORT MaximumLength;
  PCHAR Buffer;
} STRING, ANSI_STRING, *PSTRING, *PANSI_STRING;
typedef const STRING* PCANSI_STRING;

#define UNICODE_STRING_MAX_BYTES ((USHORT)65534)

// Static initialiser for a literal: RTL_CONSTANT_STRING(WSTR("\\asio")).
#define RTL_CONSTANT_STRING(s) \
  { sizeof(s) - sizeof((s)[0]), sizeof(s), const_cast<PWSTR>(s) }

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
VOID RtlInitEmptyUnicodeString(PUNICODE_STRING DestinationString, PWCHAR Buffer, USHORT BufferSize);
VOID RtlInitString(PSTRING DestinationString, PCSTR SourceString);
LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                             BOOLEAN CaseInSensitive);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                              BOOLEAN CaseInSensitive);
BOOLEAN RtlPrefixUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                               BOOLEAN CaseInSensitive);
WCHAR RtlUpcaseUnicodeChar(WCHAR SourceCharacter);
// Copies as much as fits; the destination is terminated when there is room for it.
VOID RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source);
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source);
NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String);
NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value);
