// Query numbering and the visit records of the clock entities.
#include "clock_query.h"

ULONGLONG CClockQueries::Enter() {
  KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, nullptr);
  if (m_Depth++ == 0) ++m_Query;
  return m_Query;
}

VOID CClockQueries::Leave() {
  --m_Depth;
  KeReleaseMutex(&m_Mutex, FALSE);
}

ClockVisit::ClockVisit(CClockQueries& queries, ClockVisitRecord& record)
    : m_Queries(queries), m_Record(record) {
  const ULONGLONG query = queries.Enter();
  m_First = record.query != query;
  if (m_First) record = {query, FALSE, STATUS_SUCCESS, 0, 0};
}

NTSTATUS ClockVisit::Repeat(PULONG first, PULONG second) const {
  // A visit still under way was reached through a loop of selectors: that path leads nowhere.
  const BOOLEAN done = m_Record.done;
  if (first != nullptr) *first = done ? m_Record.first : 0;
  if (second != nullptr) *second = done ? m_Record.second : 0;
  return done ? m_Record.status : STATUS_NOT_SUPPORTED;
}

NTSTATUS ClockVisit::Finish(NTSTATUS status, ULONG first, ULONG second) {
  m_Record.done = TRUE;
  m_Record.status = status;
  m_Record.first = first;
  m_Record.second = second;
  return status;
}
