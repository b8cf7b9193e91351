// Locks a driver builds itself (a word taken with interlocked operations and polled while
// held elsewhere) in the verifier's lock-order check. Told of their taking and release, the
// machine stops on an inversion between such a lock and a kernel mutex, or between two of
// them, as it does between two mutexes. Windows' deadlock detection sees only the kernel's own
// locks; on Windows these macros expand to nothing.
#pragma once

#include "kernel/ntdef.h"

// A lock (re)initialised, perhaps where another lock lived: it has no order yet.
VOID KiVerifierLockInitialized(PVOID Lock);
// The calling thread is about to wait for the lock, or a try has just taken it: the lock is
// checked against the locks the thread holds, and from now on counts as held by it.
VOID KiVerifierLockAcquire(PVOID Lock);
// The calling thread gives the lock up; releasing a lock it does not hold stops the machine.
VOID KiVerifierLockRelease(PVOID Lock);

#define VERIFIER_LOCK_INITIALIZED(lock) KiVerifierLockInitialized(lock)
#define VERIFIER_LOCK_ACQUIRE(lock) KiVerifierLockAcquire(lock)
#define VERIFIER_LOCK_RELEASE(lock) KiVerifierLockRelease(lock)
