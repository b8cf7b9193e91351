// The ring rules on both sides, and what they make of header values another process scribbled.
#include "asio_ring_rules.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr ULONG kRing = 64;  // 8 frames of 8 bytes
constexpr ULONG kFrame = 8;

TEST(AsioRingRules, WritesFollowTheProducersRule) {
  struct Case {
    const char* what;
    ULONG offset, n;
    LONG debt, fill;
    bool mayCut;
    ULONG dropped, at, first, second, next;
    LONG debtBack;
  };
  const Case cases[] = {
      {"plain", 8, 16, 0, 0, false, 0, 8, 16, 0, 24, 0},
      {"wraps at the end", 48, 32, 0, 0, false, 0, 48, 16, 16, 16, 0},
      {"offset equal to the ring is 0", 64, 8, 0, 0, false, 0, 0, 8, 0, 8, 0},
      {"underrun debt drops the tail", 0, 24, -16, 0, false, 16, 0, 8, 0, 8, 0},
      {"underrun larger than the write", 0, 24, -40, 0, false, 24, 0, 0, 0, 0, -16},
      {"overrun becomes debt", 0, 32, 0, 48, false, 0, 0, 16, 0, 16, 16},
      {"overrun adds to debt", 0, 32, 8, 48, false, 0, 0, 16, 0, 16, 24},
      {"a write that may be cut", 0, 32, 0, 48, true, 0, 0, 16, 0, 16, 0},
      {"zero bytes restore the debt", 16, 0, -24, 8, false, 0, 16, 0, 0, 16, -24},
      {"zero bytes restore overrun", 16, 0, 40, 8, false, 0, 16, 0, 0, 16, 40},
  };
  for (const Case& c : cases) {
    const RingWritePlan plan = PlanRingWrite(kRing, kFrame, c.offset, c.n, c.debt, c.fill, c.mayCut);
    EXPECT_EQ(plan.dropped, c.dropped) << c.what;
    EXPECT_EQ(plan.copy.offset, c.at) << c.what;
    EXPECT_EQ(plan.copy.first, c.first) << c.what;
    EXPECT_EQ(plan.copy.second, c.second) << c.what;
    EXPECT_EQ(plan.nextOffset, c.next) << c.what;
    EXPECT_EQ(plan.debtBack, c.debtBack) << c.what;
  }
}

TEST(AsioRingRules, ReadsFollowTheConsumersRule) {
  struct Case {
    const char* what;
    ULONG offset, n;
    LONG debt, fill;
    bool mustFill;
    ULONG leading, at, first, second, trailing, next;
    LONG debtBack;
  };
  const Case cases[] = {
      {"plain", 8, 16, 0, 32, false, 0, 8, 16, 0, 0, 24, 0},
      {"wraps at the end", 56, 24, 0, 32, false, 0, 56, 8, 16, 0, 16, 0},
      {"only what is there", 0, 32, 0, 16, false, 0, 0, 16, 0, 0, 16, 0},
      {"shortfall filled and owed", 0, 32, 0, 16, true, 0, 0, 16, 0, 16, 16, -16},
      {"overrun debt emitted first", 0, 32, 8, 64, false, 8, 0, 24, 0, 0, 24, 0},
      {"overrun larger than the read", 0, 16, 40, 64, false, 16, 0, 0, 0, 0, 0, 24},
      {"zero bytes restore the debt", 8, 0, -24, 8, true, 0, 8, 0, 0, 0, 8, -24},
  };
  for (const Case& c : cases) {
    const RingReadPlan plan = PlanRingRead(kRing, kFrame, c.offset, c.n, c.debt, c.fill, c.mustFill);
    EXPECT_EQ(plan.leadingFill, c.leading) << c.what;
    EXPECT_EQ(plan.copy.offset, c.at) << c.what;
    EXPECT_EQ(plan.copy.first, c.first) << c.what;
    EXPECT_EQ(plan.copy.second, c.second) << c.what;
    EXPECT_EQ(plan.trailingFill, c.trailing) << c.what;
    EXPECT_EQ(plan.nextOffset, c.next) << c.what;
    EXPECT_EQ(plan.debtBack, c.debtBack) << c.what;
  }
}

// What the spans of a plan do to a data area of exactly the ring's size: under the sanitizers a
// byte outside it stops the test.
void CopyThrough(std::vector<UCHAR>& ring, const RingSpan& span) {
  if (span.first + span.second == 0) return;  // an empty ring has no data area to point at
  std::vector<UCHAR> audio(span.first + span.second, 0x5A);
  std::memcpy(ring.data() + span.offset, audio.data(), span.first);
  std::memcpy(ring.data(), audio.data() + span.first, span.second);
}

void ExpectInsideTheRing(ULONG ringBytes, const RingSpan& span, ULONG next) {
  const ULONG moved = span.first + span.second;
  EXPECT_LE(moved, ringBytes);
  EXPECT_EQ(moved % kFrame, 0u);
  if (ringBytes == 0) return;
  EXPECT_LT(span.offset, ringBytes);
  EXPECT_LE(span.first, ringBytes - span.offset);
  EXPECT_LE(span.second, span.offset);
  EXPECT_LT(next, ringBytes);
}

TEST(AsioRingRules, HostileHeaderValuesNeverTakeACopyOutsideTheRing) {
  const LONG fills[] = {INT_MIN, -1, 0, 5, kRing - 1, kRing, kRing + 1, INT_MAX};
  const LONG debts[] = {INT_MIN, -1, -13, 0, 3, kRing + 5, INT_MAX};
  const ULONG offsets[] = {0, 3, kRing - 8, kRing - 1, kRing, kRing + 1, 0xFFFFFFFF};
  const ULONG lengths[] = {0, 5, kFrame, kRing, 3 * kRing + 4, 0xFFFFFFFF};
  for (ULONG ringBytes : {kRing, 0u}) {
    std::vector<UCHAR> ring(ringBytes);
    for (LONG fill : fills)
      for (LONG debt : debts)
        for (ULONG offset : offsets)
          for (ULONG n : lengths)
            for (bool flag : {false, true}) {
              SCOPED_TRACE(testing::Message() << "ring " << ringBytes << " fill " << fill
                                              << " debt " << debt << " offset " << offset << " n "
                                              << n << " flag " << flag);
              const RingWritePlan w =
                  PlanRingWrite(ringBytes, kFrame, offset, n, debt, fill, flag);
              ExpectInsideTheRing(ringBytes, w.copy, w.nextOffset);
              EXPECT_LE(w.dropped, n);
              EXPECT_LE(w.copy.first + w.copy.second, n - w.dropped);
              EXPECT_LE(w.copy.first + w.copy.second, ringBytes - RingFill(fill, ringBytes));
              CopyThrough(ring, w.copy);

              const RingReadPlan r = PlanRingRead(ringBytes, kFrame, offset, n, debt, fill, flag);
              ExpectInsideTheRing(ringBytes, r.copy, r.nextOffset);
              EXPECT_LE(r.copy.first + r.copy.second, RingFill(fill, ringBytes));
              EXPECT_EQ(static_cast<ULONGLONG>(r.leadingFill) + r.copy.first + r.copy.second +
                            r.trailingFill,
                        flag ? n : r.leadingFill + r.copy.first + r.copy.second);
              EXPECT_LE(r.leadingFill + r.copy.first + r.copy.second, n);
              CopyThrough(ring, r.copy);
            }
  }
}

TEST(AsioRingRules, DebtSaturatesInsteadOfWrapping) {
  // A client that never reads, for hours: the overrun keeps growing but cannot wrap negative.
  EXPECT_EQ(PlanRingWrite(kRing, kFrame, 0, 32, INT_MAX - 8, kRing, false).debtBack, INT_MAX);
  EXPECT_EQ(PlanRingRead(kRing, kFrame, 0, 32, INT_MIN + 8, 0, true).debtBack, INT_MIN);
  EXPECT_EQ(PlanRingWrite(kRing, kFrame, 0, 32, INT_MIN, 0, false).dropped, 32u);
  EXPECT_EQ(PlanRingWrite(kRing, kFrame, 0, 32, INT_MIN, 0, false).debtBack, INT_MIN + 32);
}

}  // namespace
