#include "conflict/own_process_table_testing.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>

namespace conflict_testing {

pid_t OwnProcessTable::Add(const std::string& exe, const std::vector<std::string>& argv) {
    const pid_t pid = next_++;
    proc_.Add(pid, exe, argv);
    return pid;
}

bool OwnProcessTable::Has(pid_t pid) const { return std::filesystem::exists(Path() + "/" + std::to_string(pid)); }

int OwnProcessTable::SendSignal(int, pid_t pid, int signal) {
    signals.emplace_back(pid, signal);
    if (pid < kFirstFakePid) {
        ADD_FAILURE() << "signal " << signal << " to process " << pid << ", which is not in the test's process table";
        return EPERM;
    }
    if (!Has(pid)) return ESRCH;
    std::filesystem::remove_all(Path() + "/" + std::to_string(pid));  // it ends
    return 0;
}

namespace {

class Installed final : public ::testing::Environment {
public:
    void SetUp() override {
        table_ = std::make_unique<OwnProcessTable>();
        tools_ = std::make_unique<ScopedSystemTools>(*table_);
    }
    void TearDown() override {
        tools_.reset();
        table_.reset();
    }
    OwnProcessTable& Table() { return *table_; }

private:
    std::unique_ptr<OwnProcessTable> table_;
    std::unique_ptr<ScopedSystemTools> tools_;
};

Installed* const kInstalled = static_cast<Installed*>(::testing::AddGlobalTestEnvironment(new Installed));

}  // namespace

OwnProcessTable& ProcessTable() { return kInstalled->Table(); }

}  // namespace conflict_testing
