// Every test binary that runs whole updates links this: from before the first
// test to after the last, the run logs go to a temporary folder, the journal's
// copy of each run to a socket there that nobody reads, and the update lock has
// a name of the process's own, so that test binaries run side by side never
// refuse each other's updates; and runs ask no logind for an inhibitor lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "app/run_log_testing.h"
#include "app/sleep_inhibitor_testing.h"
#include "app/system_journal_testing.h"
#include "app/update_lock_testing.h"
#include "common/temp_dir_testing.h"

namespace {

class TemporaryStateHome final : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::make_unique<TempDir>();
        stateHome_ = std::make_unique<ScopedStateHome>(folder_->Path());
        journal_ = std::make_unique<ScopedJournalSocket>(folder_->Path() + "/journal");
        lockName_ = std::make_unique<ScopedUpdateLockName>("quillon-update-lock-test-" + std::to_string(getpid()));
        noInhibition_ = std::make_unique<ScopedSleepInhibition>(false);
    }
    void TearDown() override {
        noInhibition_.reset();
        lockName_.reset();
        journal_.reset();
        stateHome_.reset();
        folder_.reset();
    }

private:
    std::unique_ptr<TempDir> folder_;
    std::unique_ptr<ScopedStateHome> stateHome_;
    std::unique_ptr<ScopedJournalSocket> journal_;
    std::unique_ptr<ScopedUpdateLockName> lockName_;
    std::unique_ptr<ScopedSleepInhibition> noInhibition_;
};

[[maybe_unused]] ::testing::Environment* const kTemporaryStateHome =
    ::testing::AddGlobalTestEnvironment(new TemporaryStateHome);

}  // namespace
