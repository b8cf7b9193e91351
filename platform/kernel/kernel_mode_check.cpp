// Builds the kernel-mode umbrella as driver code is built, and uses the inline parts of it.
#include "kernel_mode.h"

namespace {

struct Record {
  LIST_ENTRY link;
  LONG value;
};

[[maybe_unused]] LONG UseInlineHelpers(Record* record) {
  LIST_ENTRY head;
  InitializeListHead(&head);
  InsertTailList(&head, &record->link);
  Record* first = CONTAINING_RECORD(head.Flink, Record, link);
  RemoveEntryList(&first->link);
  TRACE_POINT(1, first->value, 2u);
  TRACE_POINT(2);
  return InterlockedIncrement(&first->value);
}

[[maybe_unused]] PVOID UseMdlHelpers(PMDL mdl, PVOID buffer) {
  MmInitializeMdl(mdl, buffer, PAGE_SIZE);
  MmPrepareMdlForReuse(mdl);
  return MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority | MdlMappingNoExecute);
}

}  // namespace
