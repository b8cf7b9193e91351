// Counted-string routines of the run-time library.
#include "kernel/rtl_string.h"

#include "kernel/bugcheck.h"
#include "kernel/ntstatus.h"

namespace {

// Strings come from drivers and, through the I/O manager, from user mode: a length that is odd
// or larger than the buffer would make every later routine read past the buffer.
void CheckString(PCUNICODE_STRING s) {
  if (s == nullptr || (s->Length & 1) != 0 || s->Length > s->MaximumLength ||
      (s->Buffer == nullptr && s->Length != 0)) {
    KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, 0x1001, reinterpret_cast<ULONG_PTR>(s), 0, 0);
  }
}

SIZE_T WideLength(PCWSTR text) {
  SIZE_T n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Case-insensitive comparisons upcase Basic Latin, Latin-1, Greek and Cyrillic letters, which
// covers every name the system compares.
WCHAR Upcase(WCHAR c) {
  if (c >= u'a' && c <= u'z') return static_cast<WCHAR>(c - 0x20);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : static_cast<WCHAR>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<WCHAR>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<WCHAR>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<WCHAR>(c - 0x50);
  return c;
}

}  // namespace

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
  DestinationString->Buffer = const_cast<PWSTR>(SourceString);
  if (SourceString == nullptr) {
    DestinationString->Length = DestinationString->MaximumLength = 0;
    return;
  }
  SIZE_T bytes = WideLength(SourceString) * sizeof(WCHAR);
  // A string too long to count is cut to the longest countable one, as Windows does.
  if (bytes > UNICODE_STRING_MAX_BYTES - sizeof(WCHAR)) bytes = UNICODE_STRING_MAX_BYTES - 2;
  DestinationString->Length = static_cast<USHORT>(bytes);
  DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

VOID RtlInitEmptyUnicodeString(PUNICODE_STRING DestinationString, PWCHAR Buffer,
                               USHORT BufferSize) {
  DestinationString->Length = 0;
  DestinationString->MaximumLength = BufferSize;
  DestinationString->Buffer = Buffer;
}

VOID RtlInitString(PSTRING DestinationString, PCSTR SourceString) {
  DestinationString->Buffer = const_cast<PCHAR>(SourceString);
  if (SourceString == nullptr) {
    DestinationString->Length = DestinationString->MaximumLength = 0;
    return;
  }
  SIZE_T n = 0;
  while (SourceString[n] != 0 && n < 0xFFFE) ++n;
  DestinationString->Length = static_cast<USHORT>(n);
  DestinationString->MaximumLength = static_cast<USHORT>(n + 1);
}

WCHAR RtlUpcaseUnicodeChar(WCHAR SourceCharacter) {
  return Upcase(SourceCharacter);
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                             BOOLEAN CaseInSensitive) {
  CheckString(String1);
  CheckString(String2);
  const SIZE_T n1 = String1->Length / sizeof(WCHAR);
  const SIZE_T n2 = String2->Length / sizeof(WCHAR);
  const SIZE_T n = n1 < n2 ? n1 : n2;
  for (SIZE_T i = 0; i < n; ++i) {
    WCHAR a = String1->Buffer[i];
    WCHAR b = String2->Buffer[i];
    if (CaseInSensitive) {
      a = Upcase(a);
      b = Upcase(b);
    }
    if (a != b) return static_cast<LONG>(a) - static_cast<LONG>(b);
  }
  return static_cast<LONG>(n1) - static_cast<LONG>(n2);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                              BOOLEAN CaseInSensitive) {
  CheckString(String1);
  CheckString(String2);
  if (String1->Length != String2->Length) return FALSE;
  return RtlCompareUnicodeString(String1, String2, CaseInSensitive) == 0;
}

BOOLEAN RtlPrefixUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                               BOOLEAN CaseInSensitive) {
  CheckString(String1);
  CheckString(String2);
  if (String1->Length > String2->Length) return FALSE;
  UNICODE_STRING head = *String2;
  head.Length = String1->Length;
  return RtlCompareUnicodeString(String1, &head, CaseInSensitive) == 0;
}

VOID RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString) {
  CheckString(DestinationString);
  if (SourceString == nullptr) {
    DestinationString->Length = 0;
    return;
  }
  CheckString(SourceString);
  USHORT bytes = SourceString->Length;
  if (bytes > DestinationString->MaximumLength) bytes = DestinationString->MaximumLength & ~1;
  for (USHORT i = 0; i < bytes / sizeof(WCHAR); ++i)
    DestinationString->Buffer[i] = SourceString->Buffer[i];
  DestinationString->Length = bytes;
  if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength)
    DestinationString->Buffer[bytes / sizeof(WCHAR)] = 0;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source) {
  CheckString(Destination);
  CheckString(Source);
  const SIZE_T total = static_cast<SIZE_T>(Destination->Length) + Source->Length;
  if (total > Destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
  PWSTR out = Destination->Buffer + Destination->Length / sizeof(WCHAR);
  for (USHORT i = 0; i < Source->Length / sizeof(WCHAR); ++i) out[i] = Source->Buffer[i];
  Destination->Length = static_cast<USHORT>(total);
  if (total + sizeof(WCHAR) <= Destination->MaximumLength)
    Destination->Buffer[total / sizeof(WCHAR)] = 0;
  return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source) {
  if (Source == nullptr) return STATUS_SUCCESS;
  UNICODE_STRING source;
  RtlInitUnicodeString(&source, Source);
  return RtlAppendUnicodeStringToString(Destination, &source);
}

NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String) {
  if (Base == 0) Base = 10;
  if (Base != 2 && Base != 8 && Base != 10 && Base != 16) return STATUS_INVALID_PARAMETER;
  CheckString(String);
  WCHAR digits[33];
  int n = 0;
  do {
    const ULONG d = Value % Base;
    digits[n++] = static_cast<WCHAR>(d < 10 ? u'0' + d : u'A' + d - 10);
    Value /= Base;
  } while (Value != 0);
  const SIZE_T bytes = static_cast<SIZE_T>(n) * sizeof(WCHAR);
  if (bytes > String->MaximumLength) return STATUS_BUFFER_OVERFLOW;
  for (int i = 0; i < n; ++i) String->Buffer[i] = digits[n - 1 - i];
  String->Length = static_cast<USHORT>(bytes);
  if (bytes + sizeof(WCHAR) <= String->MaximumLength) String->Buffer[n] = 0;
  return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value) {
  CheckString(String);
  const SIZE_T n = String->Length / sizeof(WCHAR);
  SIZE_T i = 0;
  while (i < n && (String->Buffer[i] == u' ' || String->Buffer[i] == u'\t')) ++i;
  bool negative = false;
  if (i < n && (String->Buffer[i] == u'+' || String->Buffer[i] == u'-')) {
    negative = String->Buffer[i] == u'-';
    ++i;
  }
  if (Base == 0) {
    Base = 10;
    if (i + 1 < n && String->Buffer[i] == u'0') {
      const WCHAR p = String->Buffer[i + 1];
      if (p == u'x') Base = 16;
      if (p == u'o') Base = 8;
      if (p == u'b') Base = 2;
      if (Base != 10) i += 2;
    }
  } else if (Base != 2 && Base != 8 && Base != 10 && Base != 16) {
    return STATUS_INVALID_PARAMETER;
  }
  ULONG result = 0;
  for (; i < n; ++i) {
    const WCHAR c = Upcase(String->Buffer[i]);
    ULONG d;
    if (c >= u'0' && c <= u'9') {
      d = c - u'0';
    } else if (c >= u'A' && c <= u'F') {
      d = c - u'A' + 10;
    } else {
      break;
    }
    if (d >= Base) break;
    result = result * Base + d;
  }
  *Value = negative ? static_cast<ULONG>(0u - result) : result;
  return STATUS_SUCCESS;
}
