#pragma once
// For the test binaries that run the whole updater (app_test, window_test):
// from their first test to their last, the processes the updater lists are
// those of a table the binary owns (a fake /proc, empty unless a test adds to
// it), never the machine's. Its system tools end a listed process by removing
// its entry, fail the test on a signal to any process outside the table, and
// only record the programs started again. A run's listing and closing of the
// maker's programs can so never reach a real process.
#include <sys/types.h>

#include <string>
#include <vector>

#include "conflict/fake_proc_testing.h"
#include "conflict/system_tools.h"

namespace conflict_testing {

class OwnProcessTable final : public SystemTools {
public:
    // Adds a process under the next fake process ID and returns that ID.
    pid_t Add(const std::string& exe, const std::vector<std::string>& argv);
    bool Has(pid_t pid) const;

    void Start(const std::vector<std::string>& argv) override { started.push_back(argv); }
    bool IsAdministrator() override { return false; }
    int SendSignal(int processHandle, pid_t pid, int signal) override;

    const std::string& Path() const { return proc_.Path(); }

    std::vector<std::vector<std::string>> started;
    std::vector<std::pair<pid_t, int>> signals;

private:
    FakeProc proc_;
    pid_t next_ = kFirstFakePid;
};

// The binary's table, installed (with its tools) for every test.
OwnProcessTable& ProcessTable();

}  // namespace conflict_testing
