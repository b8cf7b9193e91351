// Numbered trace points. A trace point carries its number and up to eight integer arguments;
// the machine keeps the recent ones in a ring that tests read and bug checks print.
#pragma once

#include <type_traits>

#include "kernel/ntdef.h"

#define TRACE_POINT_MAX_ARGS 8

VOID TraceRecordPoint(ULONG Id, ULONG ArgumentCount, const ULONG64* Arguments);

template <typename T>
constexpr ULONG64 TraceArgument(T value) {
  static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "trace points carry numbers only");
  return static_cast<ULONG64>(value);
}

template <typename... Args>
inline VOID TraceEmit(ULONG id, Args... args) {
  static_assert(sizeof...(Args) <= TRACE_POINT_MAX_ARGS, "at most eight trace arguments");
  const ULONG64 values[sizeof...(Args) + 1] = {TraceArgument(args)..., 0};
  TraceRecordPoint(id, sizeof...(Args), values);
}

#define TRACE_POINT(id, ...) TraceEmit((id)__VA_OPT__(, ) __VA_ARGS__)
