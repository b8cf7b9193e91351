// Run-time library: counted strings, lists, and trace points.
#include <gmock/gmock.h>

#include "kernel/bugcheck.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

UNICODE_STRING U(PCWSTR text) {
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, text);
  return s;
}

TEST(RtlString, InitCountsBytesWithoutTheTerminator) {
  UNICODE_STRING s = U(WSTR("\\asio"));
  EXPECT_EQ(s.Length, 10);
  EXPECT_EQ(s.MaximumLength, 12);
  UNICODE_STRING empty = U(nullptr);
  EXPECT_EQ(empty.Length, 0);
  EXPECT_EQ(empty.Buffer, nullptr);
}

TEST(RtlString, CompareAndEqualWithAndWithoutCase) {
  struct Case {
    PCWSTR a, b;
    bool insensitive;
    int sign;  // of RtlCompareUnicodeString
  };
  const Case cases[] = {
      {WSTR("Global\\Tarnlink"), WSTR("global\\TARNLINK"), true, 0},
      {WSTR("Global\\Tarnlink"), WSTR("global\\TARNLINK"), false, -1},
      {WSTR("abc"), WSTR("abcd"), true, -1},
      {WSTR("abd"), WSTR("abc"), false, 1},
      {WSTR("\u00e9t\u00e9"), WSTR("\u00c9T\u00c9"), true, 0},
      {WSTR(""), WSTR(""), false, 0},
  };
  for (const Case& c : cases) {
    UNICODE_STRING a = U(c.a), b = U(c.b);
    const LONG result = RtlCompareUnicodeString(&a, &b, c.insensitive);
    EXPECT_EQ((result > 0) - (result < 0), c.sign);
    EXPECT_EQ(RtlEqualUnicodeString(&a, &b, c.insensitive) != FALSE, c.sign == 0);
  }
  UNICODE_STRING prefix = U(WSTR("\\ASIO")), path = U(WSTR("\\asio\\more"));
  EXPECT_TRUE(RtlPrefixUnicodeString(&prefix, &path, TRUE));
  EXPECT_FALSE(RtlPrefixUnicodeString(&prefix, &path, FALSE));
}

TEST(RtlString, CopyAndAppendNeverWritePastTheDestination) {
  WCHAR buffer[6];
  for (WCHAR& c : buffer) c = u'#';
  UNICODE_STRING dest;
  RtlInitEmptyUnicodeString(&dest, buffer, 4 * sizeof(WCHAR));
  UNICODE_STRING source = U(WSTR("abcdef"));
  RtlCopyUnicodeString(&dest, &source);
  EXPECT_EQ(dest.Length, 8);
  EXPECT_EQ(buffer[4], u'#') << "no room for a terminator, none written";
  RtlInitEmptyUnicodeString(&dest, buffer, sizeof buffer);
  EXPECT_EQ(RtlAppendUnicodeToString(&dest, WSTR("_48")), STATUS_SUCCESS);
  EXPECT_EQ(RtlAppendUnicodeToString(&dest, WSTR("0000")), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(dest.Length, 6);
  UNICODE_STRING number;
  WCHAR digits[8];
  RtlInitEmptyUnicodeString(&number, digits, sizeof digits);
  ASSERT_EQ(RtlIntegerToUnicodeString(768000, 10, &number), STATUS_SUCCESS);
  UNICODE_STRING expected = U(WSTR("768000"));
  EXPECT_TRUE(RtlEqualUnicodeString(&number, &expected, FALSE));
  ULONG value = 0;
  EXPECT_EQ(RtlUnicodeStringToInteger(&number, 0, &value), STATUS_SUCCESS);
  EXPECT_EQ(value, 768000u);
  EXPECT_EQ(RtlIntegerToUnicodeString(1234567890, 10, &number), STATUS_BUFFER_OVERFLOW);
}

struct Item {
  LIST_ENTRY link;
  int value;
};

TEST(RtlList, InsertRemoveAndRecoverTheRecord) {
  LIST_ENTRY head;
  InitializeListHead(&head);
  Item items[3] = {{{}, 1}, {{}, 2}, {{}, 3}};
  InsertTailList(&head, &items[1].link);
  InsertHeadList(&head, &items[0].link);
  InsertTailList(&head, &items[2].link);
  EXPECT_EQ(CONTAINING_RECORD(RemoveHeadList(&head), Item, link)->value, 1);
  EXPECT_EQ(CONTAINING_RECORD(RemoveTailList(&head), Item, link)->value, 3);
  EXPECT_TRUE(RemoveEntryList(&items[1].link)) << "the list became empty";
  EXPECT_TRUE(IsListEmpty(&head));
}

using RtlMachineTest = KernelTest;

TEST_F(RtlMachineTest, CorruptedListStopsTheMachine) {
  ExpectBugCheck(KERNEL_SECURITY_CHECK_FAILURE);
  EXPECT_FALSE(RunInThread([] {
    LIST_ENTRY head;
    Item item{{}, 0};
    InitializeListHead(&head);
    InsertTailList(&head, &item.link);
    head.Blink = &head;  // a neighbour that no longer points back
    RemoveEntryList(&item.link);
  }));
}

TEST_F(RtlMachineTest, InvalidCountedStringIsRejected) {
  ExpectBugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION);
  EXPECT_FALSE(RunInThread([] {
    WCHAR text[2] = {u'a', u'b'};
    UNICODE_STRING bad{6, 4, text};  // claims more than its buffer holds
    UNICODE_STRING good = U(WSTR("ab"));
    RtlCompareUnicodeString(&bad, &good, FALSE);
  }));
}

TEST_F(RtlMachineTest, TracePointsAreRecordedInABoundedRing) {
  TRACE_POINT(10);
  TRACE_POINT(11, 1, -1, 0xFFFFFFFFu, true);
  EXPECT_TRUE(kernel().HasTracePoint(10));
  const std::vector<TraceEntry> trace = kernel().Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[1].id, 11u);
  EXPECT_EQ(trace[1].argumentCount, 4u);
  EXPECT_EQ(trace[1].arguments[1], static_cast<uint64_t>(-1));
  for (int i = 0; i < 5000; ++i) TRACE_POINT(12, i);
  EXPECT_EQ(kernel().Trace().size(), 4096u);
  EXPECT_FALSE(kernel().HasTracePoint(10)) << "the oldest fell out of the ring";
  EXPECT_EQ(kernel().Trace().back().arguments[0], 4999u);
}

TEST(Trace, OutsideAMachineTracePointsGoNowhere) {
  TRACE_POINT(1, 2);
}

}  // namespace
}  // namespace tarnlink::kernel::testing
