#include "common/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(VirtualClock, SleepAdvancesTimeAndIsRecorded) {
    VirtualClock clock(1000);
    ScopedClock installed(clock);
    SleepMs(250);
    SleepMs(0);
    clock.Advance(50);  // time passing without a wait is not a wait
    SleepMs(1000);
    EXPECT_EQ(NowMs(), 2300u);
    EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{250, 0, 1000}));
    clock.ClearWaits();
    EXPECT_TRUE(clock.Waits().empty());
}

TEST(VirtualClock, ScopedClockRestoresThePreviousClock) {
    VirtualClock outer, inner;
    {
        ScopedClock a(outer);
        {
            ScopedClock b(inner);
            SleepMs(5);
        }
        SleepMs(7);
    }
    EXPECT_EQ(inner.Waits(), std::vector<std::uint32_t>{5});
    EXPECT_EQ(outer.Waits(), std::vector<std::uint32_t>{7});
    EXPECT_EQ(&SystemClock(), &SystemClock());
    EXPECT_EQ(dynamic_cast<VirtualClock*>(&SystemClock()), nullptr);  // the real clock again
}

TEST(VirtualClock, WaitsFromSeveralThreadsAllCount) {
    VirtualClock clock;
    ScopedClock installed(clock);
    std::thread a([] { for (int i = 0; i < 1000; ++i) SleepMs(1); });
    std::thread b([] { for (int i = 0; i < 1000; ++i) SleepMs(2); });
    a.join();
    b.join();
    EXPECT_EQ(clock.NowMs(), 3000u);
    EXPECT_EQ(clock.Waits().size(), 2000u);
}

TEST(RealClock, IsMonotonic) {
    RealClock clock;
    const auto before = clock.NowMs();
    clock.SleepMs(2);
    EXPECT_GE(clock.NowMs(), before + 2);
}

}  // namespace
