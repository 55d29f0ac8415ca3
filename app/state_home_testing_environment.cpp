// Every test binary that runs whole updates links this: from before the first
// test to after the last, the run logs go to a temporary folder.
#include <gtest/gtest.h>

#include <memory>

#include "app/run_log_testing.h"
#include "common/temp_dir_testing.h"

namespace {

class TemporaryStateHome final : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::make_unique<TempDir>();
        stateHome_ = std::make_unique<ScopedStateHome>(folder_->Path());
    }
    void TearDown() override {
        stateHome_.reset();
        folder_.reset();
    }

private:
    std::unique_ptr<TempDir> folder_;
    std::unique_ptr<ScopedStateHome> stateHome_;
};

[[maybe_unused]] ::testing::Environment* const kTemporaryStateHome =
    ::testing::AddGlobalTestEnvironment(new TemporaryStateHome);

}  // namespace
