#include "update/progress_tracker.h"

#include <gtest/gtest.h>

#include "common/clock.h"

namespace {

class ProgressTrackerTest : public testing::Test {
protected:
    VirtualClock clock{1000};
    ScopedClock useClock{clock};
    ProgressTracker tracker;

    // Writes `bytes` in 512-byte blocks of 2 ms each.
    void Write(std::uint64_t bytes) { Move(0, bytes, bytes, 2); }
    // Tells the bytes from `from` to `to` of the step's `total` moving in
    // 512-byte blocks of `msPerBlock` each.
    void Move(std::uint64_t from, std::uint64_t to, std::uint64_t total, std::uint32_t msPerBlock) {
        for (std::uint64_t done = from; done <= to; done += 512) {
            tracker.TransferProgress(done, total);
            clock.Advance(msPerBlock);
        }
    }
};

const std::vector<PlannedStep> kTwoComponents{
    {UpdateStep::Restarting, 0, 0, 10000},
    {UpdateStep::WritingComponent, 1, 512 * 1000, 0},
    {UpdateStep::WritingComponent, 2, 512 * 1000, 0},
};

TEST_F(ProgressTrackerTest, MovesWithTheWorkAndReachesTheWholeOnlyOnCompletion) {
    EXPECT_FALSE(tracker.Snapshot().started);
    tracker.Plan(kTwoComponents);
    EXPECT_EQ(tracker.Snapshot().progress, 0u);
    tracker.EnterStep(UpdateStep::Restarting, 0, 0);
    tracker.WaitBegins(10000, 40000);
    clock.Advance(5000);
    const ProgressSnapshot halfWait = tracker.Snapshot();
    EXPECT_FALSE(halfWait.waitEndUnknown);
    EXPECT_EQ(halfWait.waitLongestSeconds, 40u);
    clock.Advance(6000);
    EXPECT_TRUE(tracker.Snapshot().waitEndUnknown);
    tracker.WaitEnds();
    tracker.EnterStep(UpdateStep::WritingComponent, 1, 2);
    Write(512 * 1000);
    tracker.EnterStep(UpdateStep::WritingComponent, 2, 2);
    Write(512 * 1000);
    const ProgressSnapshot written = tracker.Snapshot();
    EXPECT_GT(written.progress, 9900u);
    EXPECT_LT(written.progress, 10000u);
    EXPECT_FALSE(written.completed);
    tracker.Complete();
    EXPECT_EQ(tracker.Snapshot().progress, 10000u);
    EXPECT_EQ(tracker.Snapshot().Percent(), 100u);
}

TEST_F(ProgressTrackerTest, TimeLeftFollowsTheMeasuredRate) {
    tracker.Plan(kTwoComponents);
    tracker.EnterStep(UpdateStep::WritingComponent, 1, 2);  // the restart was done before
    Write(512 * 500);
    // Half of the first component at 2 ms a block: 1500 blocks are left, 3 s.
    const ProgressSnapshot snapshot = tracker.Snapshot();
    ASSERT_TRUE(snapshot.secondsLeft.has_value());
    EXPECT_NEAR(*snapshot.secondsLeft, 3, 1);
}

// Component 2's bytes were estimated to cost twice component 1's (smaller
// blocks): once component 1 is timed, component 2 is expected to take twice as long.
TEST_F(ProgressTrackerTest, EachStepsEstimateIsScaledByTheRateMeasured) {
    tracker.Plan({{UpdateStep::WritingComponent, 1, 512 * 1000, 0, false, 1000},
                  {UpdateStep::WritingComponent, 2, 512 * 1000, 0, false, 2000}});
    // Before anything moved: the estimates, 0.5 s and 1 s.
    ASSERT_TRUE(tracker.Snapshot().secondsLeft.has_value());
    EXPECT_EQ(*tracker.Snapshot().secondsLeft, 2u);  // 1.5 s, rounded up
    tracker.EnterStep(UpdateStep::WritingComponent, 1, 2);
    Write(512 * 1000);  // 2 s: about four times the estimate
    tracker.EnterStep(UpdateStep::WritingComponent, 2, 2);
    const ProgressSnapshot snapshot = tracker.Snapshot();
    ASSERT_TRUE(snapshot.secondsLeft.has_value());
    EXPECT_NEAR(*snapshot.secondsLeft, 4, 1);
    // A third of the bar for a third of the time.
    EXPECT_NEAR(snapshot.progress, 3333, 100);
}

// A component written and then read back, reads estimated at twice the
// writes' cost: once the writes are timed, the reads are expected at twice
// their rate; once reads are timed, at their own.
TEST_F(ProgressTrackerTest, BytesReadBackAreTimedApartFromThoseWritten) {
    constexpr std::uint64_t kHalf = 512 * 1000;
    tracker.Plan({{.step = UpdateStep::WritingComponent,
                   .component = 1,
                   .bytes = 2 * kHalf,
                   .estimatedNsPerByte = 1000,
                   .readBackBytes = kHalf,
                   .estimatedReadNsPerByte = 2000}});
    EXPECT_EQ(*tracker.Snapshot().secondsLeft, 2u);  // 0.5 s and 1 s
    tracker.EnterStep(UpdateStep::WritingComponent, 1, 1);
    Move(0, kHalf, 2 * kHalf, 2);  // 2 s: four times the estimate
    EXPECT_NEAR(*tracker.Snapshot().secondsLeft, 4, 1);
    Move(kHalf, kHalf + kHalf / 2, 2 * kHalf, 6);  // reads at three times the writes' time
    EXPECT_NEAR(*tracker.Snapshot().secondsLeft, 3, 1);
}

// Work the plan did not foresee (a poll more than expected) still takes time:
// the time left is no less than a second until the update completed.
TEST_F(ProgressTrackerTest, TellsNoTimeLeftOnlyOnceCompleted) {
    tracker.Plan({{.step = UpdateStep::Finishing, .waitMs = 1000}});
    tracker.EnterStep(UpdateStep::Finishing, 0, 0);
    tracker.WaitBegins(1000, 20000);
    clock.Advance(2500);
    EXPECT_EQ(*tracker.Snapshot().secondsLeft, 1u);
    tracker.WaitEnds();
    EXPECT_EQ(*tracker.Snapshot().secondsLeft, 1u);
    tracker.Complete();
    EXPECT_EQ(*tracker.Snapshot().secondsLeft, 0u);
}

TEST_F(ProgressTrackerTest, ARepeatedRunHoldsTheBarUntilItPassesIt) {
    tracker.Plan(kTwoComponents);
    tracker.EnterStep(UpdateStep::WritingComponent, 1, 2);
    Write(512 * 1000);
    const std::uint32_t before = tracker.Snapshot().progress;
    // An automatic restart begins again from the first component.
    tracker.Plan({{UpdateStep::Restarting, 0, 0, 10000, true}, kTwoComponents[1], kTwoComponents[2]});
    tracker.EnterStep(UpdateStep::WritingComponent, 1, 2);
    EXPECT_EQ(tracker.Snapshot().progress, before);
    Write(512 * 1000);
    tracker.EnterStep(UpdateStep::WritingComponent, 2, 2);
    Write(512 * 500);
    EXPECT_GT(tracker.Snapshot().progress, before);
}

TEST_F(ProgressTrackerTest, TellsEachStepToItsListener) {
    std::vector<UpdateStep> steps;
    tracker.SetStepListener([&](const ProgressSnapshot& s) { steps.push_back(s.step); });
    tracker.Plan(kTwoComponents);
    tracker.EnterStep(UpdateStep::Restarting, 0, 0);
    tracker.EnterStep(UpdateStep::Finishing, 0, 0);  // not planned: told, and the bar holds
    EXPECT_EQ(steps, (std::vector<UpdateStep>{UpdateStep::Restarting, UpdateStep::Finishing}));
}

}  // namespace
