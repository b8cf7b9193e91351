// The engine's arithmetic: latency targets and the continuity check of completions.
#include <gtest/gtest.h>

#include "continuity_check.h"
#include "latency_target.h"

namespace {

TEST(LatencyTarget, FollowsTheParameterAndTheOverride) {
  struct Case {
    ULONG parameter;
    ULONG overrideFrames;
    ULONG bytes;
  };
  // 48 kHz, 8-byte frames, 8 transfers of 1 ms each way.
  const Case cases[] = {{0, 0, 384}, {100, 0, 1920}, {0, 4, 32}, {0, 10000, 6272}};
  for (const Case& c : cases) {
    LatencyInputs in = {8, 48000, c.parameter, c.overrideFrames, 8, 1, 1};
    EXPECT_EQ(LatencyTargetBytes(in), c.bytes) << c.parameter << " " << c.overrideFrames;
  }
}

TEST(ContinuityCheck, LostWindowAndSlowDriftFailAGoodCompletion) {
  const ContinuityLimits limits = {1, 8};
  CompletionContinuity state = {};
  EXPECT_EQ(CheckContinuity(state, limits, FALSE, 100, STATUS_SUCCESS), STATUS_SUCCESS);
  EXPECT_EQ(CheckContinuity(state, limits, TRUE, 101, STATUS_SUCCESS), STATUS_SUCCESS);
  // Seven frames late is still inside the window of eight transfers; eight is not.
  EXPECT_EQ(CheckContinuity(state, limits, TRUE, 108, STATUS_SUCCESS), STATUS_SUCCESS);
  state = {};
  CheckContinuity(state, limits, FALSE, 0, STATUS_SUCCESS);
  EXPECT_EQ(CheckContinuity(state, limits, TRUE, 8, STATUS_SUCCESS), STATUS_UNEXPECTED_IO_ERROR);
  // A failure keeps its own status.
  EXPECT_EQ(CheckContinuity(state, limits, TRUE, 30, STATUS_CANCELLED), STATUS_CANCELLED);

  // One frame behind for good: the late total passes 999 after about a thousand completions.
  state = {};
  CheckContinuity(state, limits, FALSE, 0, STATUS_SUCCESS);
  ULONG frame = 2;
  EXPECT_EQ(CheckContinuity(state, limits, TRUE, frame, STATUS_SUCCESS), STATUS_SUCCESS);
  int completions = 1;
  NTSTATUS status = STATUS_SUCCESS;
  while (NT_SUCCESS(status) && completions < 2000) {
    status = CheckContinuity(state, limits, TRUE, ++frame, STATUS_SUCCESS);
    ++completions;
  }
  EXPECT_EQ(status, STATUS_UNEXPECTED_IO_ERROR);
  EXPECT_GT(completions, 900);
  // Catching up clears the drift and the late total with it.
  state = {};
  CheckContinuity(state, limits, FALSE, 0, STATUS_SUCCESS);
  CheckContinuity(state, limits, TRUE, 2, STATUS_SUCCESS);
  CheckContinuity(state, limits, TRUE, 2, STATUS_SUCCESS);
  EXPECT_EQ(state.Drift, 0);
  EXPECT_EQ(state.LateTotal, 0);
}

}  // namespace
