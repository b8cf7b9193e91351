#include "system_thread.h"

NTSTATUS StartReferencedSystemThread(PKSTART_ROUTINE routine, PVOID context, PKTHREAD* thread) {
  *thread = nullptr;
  HANDLE handle = nullptr;
  NTSTATUS status =
      PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, routine, context);
  if (!NT_SUCCESS(status)) return status;
  PVOID object = nullptr;
  status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object,
                                     nullptr);
  ZwClose(handle);
  if (NT_SUCCESS(status)) *thread = static_cast<PKTHREAD>(object);
  return status;
}
