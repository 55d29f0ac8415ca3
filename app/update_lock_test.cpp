#include "app/update_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "common/temp_dir_testing.h"

namespace {

// flock conflicts between open file descriptions, so two locks in one process
// behave as two processes would.
TEST(UpdateLockTest, OneHolderAtATimeAndTheOthersSeeWhoHoldsIt) {
    TempDir dir;
    const std::string folder = dir.File("");
    std::optional<UpdateLock> first;
    first.emplace(folder, "quillon-cli");
    ASSERT_TRUE(first->Held());

    const UpdateLock second(folder, "quillon");
    EXPECT_FALSE(second.Held());
    EXPECT_TRUE(second.Busy());
    EXPECT_EQ(second.Holder().program, "quillon-cli");
    EXPECT_EQ(second.Holder().pid, getpid());
    EXPECT_EQ(second.Holder().Description(), "quillon-cli (process " + std::to_string(getpid()) + ")");

    first.reset();  // the run ended
    const UpdateLock third(folder, "quillon");
    EXPECT_TRUE(third.Held());
    EXPECT_FALSE(third.Busy());
}

TEST(UpdateLockTest, AFolderThatCannotHoldTheFileIsReportedWithItsCause) {
    TempDir dir;
    const UpdateLock lock(dir.File("missing/"), "quillon");
    EXPECT_FALSE(lock.Held());
    EXPECT_FALSE(lock.Busy());
    ASSERT_TRUE(lock.Failure().has_value());
    EXPECT_EQ(lock.Failure()->error, ENOENT);
    EXPECT_NE(lock.Failure()->operation.find(kUpdateLockFileName), std::string::npos);
}

TEST(UpdateLockTest, AHolderThatWroteNothingIsAnotherUpdater) {
    EXPECT_EQ(UpdateLockHolder{}.Description(), "another updater");
}

}  // namespace
