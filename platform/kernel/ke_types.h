// Core kernel types: IRQL, processor modes, dispatcher objects, DPCs, spin locks.
// The dispatcher objects have the shape drivers embed in their own records; their fields are
// owned by the kernel and change only under the dispatcher lock.
#pragma once

#include "kernel/ntdef.h"
#include "kernel/rtl_list.h"

typedef KAFFINITY* PKAFFINITY;

typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;
#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define CMCI_LEVEL 5
#define CLOCK_LEVEL 13
#define IPI_LEVEL 14
#define DRS_LEVEL 14
#define POWER_LEVEL 14
#define PROFILE_LEVEL 15
#define HIGH_LEVEL 15

typedef LONG KPRIORITY;
#define LOW_PRIORITY 0
#define LOW_REALTIME_PRIORITY 16
#define HIGH_PRIORITY 31
#define MAXIMUM_PRIORITY 32

// Priority increments passed to the set/release calls; accepted and recorded only.
#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1
#define IO_SOUND_INCREMENT 8
#define SEMAPHORE_INCREMENT 1
#define MUTANT_INCREMENT 1

typedef CHAR KPROCESSOR_MODE;
typedef enum _MODE { KernelMode, UserMode, MaximumMode } MODE;

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _TIMER_TYPE { NotificationTimer, SynchronizationTimer } TIMER_TYPE;
typedef enum _WAIT_TYPE { WaitAll, WaitAny, WaitNotification, WaitDequeue } WAIT_TYPE;

typedef enum _KWAIT_REASON {
  Executive,
  FreePage,
  PageIn,
  PoolAllocation,
  DelayExecution,
  Suspended,
  UserRequest,
  WrExecutive,
  WrFreePage,
  WrPageIn,
  WrPoolAllocation,
  WrDelayExecution,
  WrSuspended,
  WrUserRequest,
  WrEventPair,
  WrQueue,
  WrLpcReceive,
  WrLpcReply,
  WrVirtualMemory,
  WrPageOut,
  WrRendezvous,
  MaximumWaitReason = 37
} KWAIT_REASON;

#define THREAD_WAIT_OBJECTS 3
#define MAXIMUM_WAIT_OBJECTS 64

// Kinds of dispatcher object (DISPATCHER_HEADER::Type).
enum : UCHAR {
  EventNotificationObject = 0,
  EventSynchronizationObject = 1,
  MutantObject = 2,
  ProcessObject = 3,
  QueueObject = 4,
  SemaphoreObject = 5,
  ThreadObject = 6,
  TimerNotificationObject = 8,
  TimerSynchronizationObject = 9,
};

typedef struct _DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Signalling;
  UCHAR Size;
  UCHAR Reserved;
  LONG SignalState;
  LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER, *PDISPATCHER_HEADER;

struct _KTHREAD;
struct _EPROCESS;
typedef struct _KTHREAD KTHREAD, *PKTHREAD, *PRKTHREAD;
typedef struct _KTHREAD ETHREAD, *PETHREAD;
typedef struct _EPROCESS EPROCESS, *PEPROCESS, KPROCESS, *PKPROCESS, *PRKPROCESS;

typedef struct _KWAIT_BLOCK {
  LIST_ENTRY WaitListEntry;
  PKTHREAD Thread;
  PVOID Object;
  USHORT WaitKey;
  UCHAR WaitType;
  UCHAR BlockState;
} KWAIT_BLOCK, *PKWAIT_BLOCK, *PRKWAIT_BLOCK;

typedef struct _KEVENT {
  DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef struct _KMUTANT {
  DISPATCHER_HEADER Header;  // SignalState 1 = free; each acquisition by the owner subtracts 1
  LIST_ENTRY MutantListEntry;
  PKTHREAD OwnerThread;
  BOOLEAN Abandoned;
  UCHAR ApcDisable;
} KMUTANT, *PKMUTANT, *PRKMUTANT, KMUTEX, *PKMUTEX, *PRKMUTEX;

typedef struct _KSEMAPHORE {
  DISPATCHER_HEADER Header;
  LONG Limit;
} KSEMAPHORE, *PKSEMAPHORE, *PRKSEMAPHORE;

struct _KDPC;
typedef VOID KDEFERRED_ROUTINE(struct _KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                               PVOID SystemArgument2);
typedef KDEFERRED_ROUTINE* PKDEFERRED_ROUTINE;

typedef enum _KDPC_IMPORTANCE { LowImportance, MediumImportance, HighImportance } KDPC_IMPORTANCE;

typedef struct _KDPC {
  UCHAR Type;
  UCHAR Importance;
  USHORT Number;
  LIST_ENTRY DpcListEntry;
  PKDEFERRED_ROUTINE DeferredRoutine;
  PVOID DeferredContext;
  PVOID SystemArgument1;
  PVOID SystemArgument2;
  PVOID DpcData;  // non-null while the DPC is queued
} KDPC, *PKDPC, *PRKDPC;

typedef struct _KTIMER {
  DISPATCHER_HEADER Header;
  ULARGE_INTEGER DueTime;  // interrupt time of the next expiry while inserted
  LIST_ENTRY TimerListEntry;
  PKDPC Dpc;
  LONG Period;  // milliseconds, 0 for a one-shot timer
  BOOLEAN Inserted;
} KTIMER, *PKTIMER, *PRKTIMER;

// The spin lock word holds its owner while held, 0 while free.
typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;

typedef struct _KSPIN_LOCK_QUEUE {
  struct _KSPIN_LOCK_QUEUE* volatile Next;
  PKSPIN_LOCK volatile Lock;
} KSPIN_LOCK_QUEUE, *PKSPIN_LOCK_QUEUE;

typedef struct _KLOCK_QUEUE_HANDLE {
  KSPIN_LOCK_QUEUE LockQueue;
  KIRQL OldIrql;
} KLOCK_QUEUE_HANDLE, *PKLOCK_QUEUE_HANDLE;

typedef VOID KSTART_ROUTINE(PVOID StartContext);
typedef KSTART_ROUTINE* PKSTART_ROUTINE;
