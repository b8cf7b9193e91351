// The position a stream reports and the notifications its moves give.
#include <gtest/gtest.h>

#include <vector>

#include "position_notifier.h"
#include "support/kernel_test.h"

namespace tarnlink::wavert::testing {
namespace {

class MarkLog final : public INotificationSink {
 public:
  VOID Notify(BufferMark mark) override { marks.push_back(mark); }
  std::vector<BufferMark> marks;
};

class PositionNotifierTest : public kernel::testing::KernelTest {};

TEST_F(PositionNotifierTest, MarksTheMiddleAndTheWrapOfTheBuffer) {
  ASSERT_TRUE(RunInThread([] {
    MarkLog log;
    CPositionNotifier notifier;
    notifier.Init(&log, 4800);
    EXPECT_EQ(notifier.ReadPosition(), 0u);
    notifier.Advance(2400);
    EXPECT_TRUE(log.marks.empty()) << "nothing moves before Start";
    notifier.Start();
    notifier.Advance(2400);
    notifier.Advance(2400);
    EXPECT_EQ(log.marks, (std::vector<BufferMark>{BufferMark::Middle, BufferMark::Wrap}));
    notifier.Advance(1000);
    notifier.Advance(1000);
    EXPECT_EQ(notifier.ReadPosition(), 2000u);
    EXPECT_EQ(log.marks.size(), 2u) << "no mark crossed";
    // A whole buffer lands where it started: neither mark is seen.
    notifier.Advance(4800);
    EXPECT_EQ(notifier.ReadPosition(), 2000u);
    EXPECT_EQ(log.marks.size(), 2u);
    // Stopped, it keeps the last position and moves no more.
    notifier.Stop();
    notifier.Advance(500);
    EXPECT_EQ(notifier.ReadPosition(), 2000u);
  }));
}

}  // namespace
}  // namespace tarnlink::wavert::testing
