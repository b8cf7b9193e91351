// The engine's system threads (transfer workers, the ASIO output thread): created, and their
// thread objects referenced so that a stop can wait for them to end.
#pragma once

#include "kernel_mode.h"

// On failure *thread stays null; a thread that started but could not be referenced runs on
// unwaited, so the caller must tell it to end.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
    StartReferencedSystemThread(PKSTART_ROUTINE routine, PVOID context, PKTHREAD* thread);
