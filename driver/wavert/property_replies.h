// The two answers every property handler of the filter shares: the check of the value and
// instance sizes a request brings, and the reply to a basic-support request.
#pragma once

#include "kernel_mode.h"

// Checks a request against the value size it needs (exactly) and the instance size it needs (at
// least). A size query (ValueSize 0) learns the size with STATUS_BUFFER_OVERFLOW; any other
// failure leaves ValueSize 0.
NTSTATUS ValidateValueSize(PPCPROPERTY_REQUEST Request, ULONG RequiredValueSize,
                           ULONG RequiredInstanceSize);

// The VT type of a property whose value type a basic-support reply does not name.
inline constexpr ULONG kNoPropertyType = 0xFFFF;

// Writes as much of a KSPROPERTY_DESCRIPTION as the value holds: the whole 40 bytes, or the
// access flags alone; a value of less than 4 bytes gets nothing and STATUS_BUFFER_TOO_SMALL.
NTSTATUS ReplyBasicSupport(PPCPROPERTY_REQUEST Request, ULONG AccessFlags, ULONG VtType);
