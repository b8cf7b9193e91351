// The producer and consumer rules of a shared ring, as plans computed from what one side may
// trust: the ring size and its own offset, kept in its own memory, and the fill bytes and debt it
// read from the shared header, which the other process may have scribbled over. Whatever those
// hints hold, a plan copies only whole frames, inside the data area, and its debt arithmetic
// cannot overflow; the caller does the interlocked exchanges and adds and the copies the plan
// names. Both the kernel driver and the ASIO driver follow these rules.
#pragma once

#include "asio_protocol.h"

// Where one copy into or out of the data area goes: `first` bytes at `offset`, then `second`
// bytes from offset 0 where the copy wraps.
struct RingSpan {
  ULONG offset;
  ULONG first;
  ULONG second;
};

// Rule W: a producer's write of n bytes.
struct RingWritePlan {
  ULONG dropped;     // bytes cut from the end of the input to pay the consumer's underrun
  RingSpan copy;     // the bytes written, whole frames
  ULONG nextOffset;  // the producer's offset after the write
  LONG debtBack;     // to add back into the shared debt after exchanging it with 0
};

// Rule R: a consumer's read of n bytes.
struct RingReadPlan {
  ULONG leadingFill;   // fill bytes emitted first, for what the producer dropped
  RingSpan copy;       // the bytes read, whole frames
  ULONG trailingFill;  // fill bytes emitted after the data when the read must be full
  ULONG nextOffset;
  LONG debtBack;
};

// An offset as it may be used: within the data area, where ring bytes itself means 0.
constexpr ULONG RingOffset(ULONG offset, ULONG ringBytes) {
  return ringBytes == 0 ? 0 : offset % ringBytes;
}

// The shared fill count as a byte count within the ring.
constexpr ULONG RingFill(LONG fillHint, ULONG ringBytes) {
  if (fillHint <= 0) return 0;
  return static_cast<ULONG>(fillHint) < ringBytes ? static_cast<ULONG>(fillHint) : ringBytes;
}

constexpr ULONG WholeFrames(ULONG bytes, ULONG frameBytes) {
  return frameBytes == 0 ? 0 : bytes - bytes % frameBytes;
}

constexpr RingSpan RingCopySpan(ULONG offset, ULONG bytes, ULONG ringBytes) {
  const ULONG start = RingOffset(offset, ringBytes);
  const ULONG first = bytes < ringBytes - start ? bytes : ringBytes - start;
  return RingSpan{start, first, bytes - first};
}

// Debt is summed in 64 bits and saturated, so a hostile or long-standing debt neither wraps nor
// overflows; how much of it one request pays is bounded by the request.
constexpr LONG SaturatedDebt(LONGLONG debt) {
  constexpr LONGLONG most = 0x7FFFFFFF;
  if (debt > most) return static_cast<LONG>(most);
  if (debt < -most - 1) return static_cast<LONG>(-most - 1);
  return static_cast<LONG>(debt);
}

// Rule W. `mayCut`: the bytes that do not fit are simply not written; otherwise they become
// positive debt (the consumer later emits fill bytes in their place to keep time).
constexpr RingWritePlan PlanRingWrite(ULONG ringBytes, ULONG frameBytes, ULONG writeOffset,
                                      ULONG n, LONG debtHint, LONG fillHint, bool mayCut) {
  LONGLONG debt = debtHint;
  ULONG dropped = 0;
  if (debt < 0) {
    dropped = -debt < n ? static_cast<ULONG>(-debt) : n;
    debt += dropped;
  }
  const ULONG remaining = n - dropped;
  const ULONG space = ringBytes - RingFill(fillHint, ringBytes);
  const ULONG written = WholeFrames(remaining < space ? remaining : space, frameBytes);
  if (!mayCut) debt += remaining - written;
  const RingSpan copy = RingCopySpan(writeOffset, written, ringBytes);
  return RingWritePlan{dropped, copy, RingOffset(copy.offset + written, ringBytes),
                       SaturatedDebt(debt)};
}

// Rule R. `mustFill`: a short read is made up with fill bytes after the data and the shortfall
// becomes negative debt (the producer later drops as much to keep time).
constexpr RingReadPlan PlanRingRead(ULONG ringBytes, ULONG frameBytes, ULONG readOffset, ULONG n,
                                    LONG debtHint, LONG fillHint, bool mustFill) {
  LONGLONG debt = debtHint;
  ULONG leadingFill = 0;
  if (debt > 0) {
    leadingFill = debt < n ? static_cast<ULONG>(debt) : n;
    debt -= leadingFill;
  }
  const ULONG remaining = n - leadingFill;
  const ULONG fill = RingFill(fillHint, ringBytes);
  const ULONG read = WholeFrames(remaining < fill ? remaining : fill, frameBytes);
  ULONG trailingFill = 0;
  if (mustFill) {
    trailingFill = remaining - read;
    debt -= trailingFill;
  }
  const RingSpan copy = RingCopySpan(readOffset, read, ringBytes);
  return RingReadPlan{leadingFill, copy, trailingFill, RingOffset(copy.offset + read, ringBytes),
                      SaturatedDebt(debt)};
}
