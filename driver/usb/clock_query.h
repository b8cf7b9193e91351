// Queries over the clock entities of one function. A query is one call from outside into a
// clock operation (the current rate, a rate range, a rate check, a rate change, the validity)
// together with every call it makes into other clocks through selector pins.
//
// Selector pins may name other selectors, and several pins may name the same clock, so the
// paths from a selector to its sources can be exponentially many. A query therefore visits each
// clock at most once per operation: the first visit does the work and records its result, every
// later one in the same query returns that record, and a clock reached again while its visit is
// still under way (a loop of selectors) counts as failed. Clocks are found by their one-byte ID,
// so a query does at most 255 visits per operation, each with at most two requests to the
// device, and reads each selector's pins once: its work is linear in the descriptor's size.
//
// Queries on one function are serialised, so a query never sees another's visits.
#pragma once

#include "kernel_mode.h"

enum class ClockOperation : ULONG { Rate, Range, Supported, Set, Valid };
inline constexpr ULONG kClockOperationCount = 5;

// What one clock's visit found in one query.
struct ClockVisitRecord {
  ULONGLONG query = 0;  // 0 belongs to no query
  BOOLEAN done = FALSE;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG first = 0;   // the rate, or the lowest rate of a range
  ULONG second = 0;  // the highest rate of a range
};

class CClockQueries {
 public:
  CClockQueries() { KeInitializeMutex(&m_Mutex, 0); }
  CClockQueries(const CClockQueries&) = delete;
  CClockQueries& operator=(const CClockQueries&) = delete;

  // Enters a clock operation and returns the number of the query it belongs to: a new number
  // when no operation of this thread is under way. The mutex is recursive, so the calls a
  // query makes into other clocks enter again without waiting.
  _IRQL_requires_(PASSIVE_LEVEL) ULONGLONG Enter();
  _IRQL_requires_(PASSIVE_LEVEL) VOID Leave();

 private:
  KMUTEX m_Mutex;
  ULONG m_Depth = 0;
  ULONGLONG m_Query = 0;
};

// One clock operation's visit: entered for its lifetime.
class ClockVisit {
 public:
  ClockVisit(CClockQueries& queries, ClockVisitRecord& record);
  ~ClockVisit() { m_Queries.Leave(); }
  ClockVisit(const ClockVisit&) = delete;
  ClockVisit& operator=(const ClockVisit&) = delete;

  // FALSE when the clock was visited before in this query; Repeat then answers for it.
  BOOLEAN First() const { return m_First; }
  NTSTATUS Repeat(PULONG first = nullptr, PULONG second = nullptr) const;
  // Records what the first visit found and returns its status.
  NTSTATUS Finish(NTSTATUS status, ULONG first = 0, ULONG second = 0);

 private:
  CClockQueries& m_Queries;
  ClockVisitRecord& m_Record;
  BOOLEAN m_First;
};
