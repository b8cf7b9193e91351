// The source annotations of the Windows Driver Kit: parameter roles and the IRQL contract of a
// routine, written in the code so that a reader (and, on Windows, the code analysis) sees them.
// Here they expand to nothing; the verifier checks what can be checked at run time (see
// driver_checks.h for PAGED_CODE and NT_ASSERT).
#pragma once

// Parameters.
#define _In_
#define _In_opt_
#define _Out_
#define _Out_opt_
#define _Inout_
#define _Inout_opt_
#define _In_reads_bytes_(size)
#define _In_reads_bytes_opt_(size)
#define _Out_writes_bytes_(size)
#define _Out_writes_bytes_opt_(size)
#define _Out_writes_(count)
#define _Inout_updates_bytes_opt_(size)

// Results.
#define _Must_inspect_result_
#define _Ret_maybenull_
#define _Success_(expression)

// IRQL.
#define _IRQL_requires_(irql)
#define _IRQL_requires_max_(irql)
#define _IRQL_requires_min_(irql)
#define _IRQL_raises_(irql)
#define _IRQL_saves_
#define _IRQL_restores_
#define _IRQL_requires_same_

// Locks and callbacks.
#define _Requires_lock_held_(lock)
#define _Requires_lock_not_held_(lock)
#define _Acquires_lock_(lock)
#define _Releases_lock_(lock)
#define _Function_class_(name)
