// The Interlocked family: sequentially consistent atomic operations on aligned machine words.
#pragma once

#include "kernel/ntdef.h"

namespace tarnlink::kernel {
// Where the scheduler may preempt the caller when it explores interleavings (machine.h).
void SynchronisationPoint();
}  // namespace tarnlink::kernel

inline LONG InterlockedIncrement(LONG volatile* target) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* target) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAdd(LONG volatile* target, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_add_fetch(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  tarnlink::kernel::SynchronisationPoint();
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}
inline LONG InterlockedOr(LONG volatile* target, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_fetch_or(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAnd(LONG volatile* target, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_fetch_and(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedXor(LONG volatile* target, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_fetch_xor(target, value, __ATOMIC_SEQ_CST);
}

inline LONG64 InterlockedIncrement64(LONG64 volatile* target) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedDecrement64(LONG64 volatile* target) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedExchange64(LONG64 volatile* target, LONG64 value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedExchangeAdd64(LONG64 volatile* target, LONG64 value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedAdd64(LONG64 volatile* target, LONG64 value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_add_fetch(target, value, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedCompareExchange64(LONG64 volatile* target, LONG64 exchange,
                                           LONG64 comparand) {
  tarnlink::kernel::SynchronisationPoint();
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}
inline LONG64 InterlockedOr64(LONG64 volatile* target, LONG64 value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_fetch_or(target, value, __ATOMIC_SEQ_CST);
}
inline LONG64 InterlockedAnd64(LONG64 volatile* target, LONG64 value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_fetch_and(target, value, __ATOMIC_SEQ_CST);
}

inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* target, PVOID exchange,
                                               PVOID comparand) {
  tarnlink::kernel::SynchronisationPoint();
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

// Reads and writes that neither tear nor get cached in a register.
inline LONG ReadNoFence(LONG const volatile* source) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_load_n(source, __ATOMIC_RELAXED);
}
inline LONG ReadAcquire(LONG const volatile* source) {
  tarnlink::kernel::SynchronisationPoint();
  return __atomic_load_n(source, __ATOMIC_ACQUIRE);
}
inline void WriteRelease(LONG volatile* destination, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  __atomic_store_n(destination, value, __ATOMIC_RELEASE);
}
inline void WriteNoFence(LONG volatile* destination, LONG value) {
  tarnlink::kernel::SynchronisationPoint();
  __atomic_store_n(destination, value, __ATOMIC_RELAXED);
}
inline void KeMemoryBarrier() {
  tarnlink::kernel::SynchronisationPoint();
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
}
#define MemoryBarrier KeMemoryBarrier
#define YieldProcessor() ((void)0)
