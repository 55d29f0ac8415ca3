#include "app/update_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "app/update_lock_testing.h"

namespace {

// Two locks in one process exclude each other as two processes' would: each
// binds a socket of its own. The holder is named by the kernel, as this process.
TEST(UpdateLockTest, OneHolderAtATimeAndTheOthersSeeWhoHoldsIt) {
    const std::string self = program_invocation_short_name;  // the test binary's name, as in /proc/self/comm
    std::optional<UpdateLock> first;
    first.emplace();
    ASSERT_TRUE(first->Held()) << first->Failure()->Text();
    EXPECT_FALSE(first->Busy());

    const UpdateLock second;
    EXPECT_FALSE(second.Held());
    ASSERT_TRUE(second.Busy());
    EXPECT_FALSE(second.Failure().has_value());
    EXPECT_EQ(second.Holder().program, self);
    EXPECT_EQ(second.Holder().pid, getpid());
    EXPECT_EQ(second.Holder().Description(), self + " (process " + std::to_string(getpid()) + ")");
    const std::optional<UpdateLockHolder> running = RunningUpdate();
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(running->pid, getpid());

    first.reset();  // the run ended
    EXPECT_FALSE(RunningUpdate().has_value());
    const UpdateLock third;
    EXPECT_TRUE(third.Held());
    EXPECT_FALSE(third.Busy());
}

TEST(UpdateLockTest, LocksOfOtherNamesAreApartAndTheTestsHaveTheirOwn) {
    EXPECT_NE(UpdateLockName(), "quillon-update-lock");
    const UpdateLock mine;
    ASSERT_TRUE(mine.Held());
    {
        const ScopedUpdateLockName other(UpdateLockName() + "-other");
        const UpdateLock theirs;
        EXPECT_TRUE(theirs.Held());
    }
    const UpdateLock again;
    EXPECT_TRUE(again.Busy());
}

TEST(UpdateLockTest, AHolderThatCannotBeNamedIsAnotherUpdater) {
    EXPECT_EQ(UpdateLockHolder{}.Description(), "another updater");
}

// A process of its own that takes the lock as `program` (as `uid`, when given)
// and holds it until it is told to end or is killed.
class HoldingChild {
public:
    HoldingChild(const char* program, std::optional<uid_t> uid) {
        if (pipe2(ready_, O_CLOEXEC) != 0 || pipe2(end_, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
        pid_ = fork();
        if (pid_ == 0) {
            close(ready_[0]);
            close(end_[1]);
            if (uid && setuid(*uid) != 0) _exit(2);
            prctl(PR_SET_NAME, program);
            const UpdateLock lock;
            const char held = lock.Held() ? 'h' : 'n';
            (void)!write(ready_[1], &held, 1);
            char ignored;
            (void)!read(end_[0], &ignored, 1);  // until the parent closes its end
            _exit(0);
        }
        close(ready_[1]);
        close(end_[0]);
        if (pid_ > 0 && read(ready_[0], &held_, 1) != 1) held_ = 0;
    }
    ~HoldingChild() {
        if (pid_ > 0) Kill();
        close(ready_[0]);
    }
    HoldingChild(const HoldingChild&) = delete;
    HoldingChild& operator=(const HoldingChild&) = delete;

    pid_t Pid() const { return pid_; }
    bool Held() const { return held_ == 'h'; }
    void End() { Reap(); }
    void Kill() {
        kill(pid_, SIGKILL);
        Reap();
    }

private:
    void Reap() {
        if (end_[1] >= 0) close(std::exchange(end_[1], -1));
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    int ready_[2] = {-1, -1};
    int end_[2] = {-1, -1};
    pid_t pid_ = -1;
    char held_ = 0;
};

void ExpectHeldBy(const HoldingChild& child, const char* program) {
    const UpdateLock lock;
    EXPECT_FALSE(lock.Held());
    ASSERT_TRUE(lock.Busy());
    EXPECT_EQ(lock.Holder().pid, child.Pid());
    EXPECT_EQ(lock.Holder().program, program);
    const std::optional<UpdateLockHolder> running = RunningUpdate();
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(running->Description(), std::string(program) + " (process " + std::to_string(child.Pid()) + ")");
}

// However the holder ends, the lock is free at once after it: nothing is left to clear.
TEST(UpdateLockTest, AnotherProcessHoldsItUntilItEndsOrIsKilled) {
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "ended");
        HoldingChild child("quillon-cli", std::nullopt);
        ASSERT_TRUE(child.Held());
        ExpectHeldBy(child, "quillon-cli");
        if (killed)
            child.Kill();
        else
            child.End();
        EXPECT_FALSE(RunningUpdate().has_value());
        EXPECT_TRUE(UpdateLock().Held());
    }
}

// Another user's update is refused and named all the same, and theirs refuses ours.
TEST(UpdateLockTest, AnotherUsersUpdateHoldsItToo) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to run a holder as another user (nobody, 65534)";
    constexpr uid_t kNobody = 65534;
    {
        HoldingChild child("quillon", kNobody);
        ASSERT_TRUE(child.Held());
        ExpectHeldBy(child, "quillon");
    }
    const UpdateLock mine;
    ASSERT_TRUE(mine.Held());
    HoldingChild child("quillon", kNobody);
    EXPECT_FALSE(child.Held());
}

}  // namespace
