#include "conflict/process_linux.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "common/system_failure.h"
#include "conflict/fake_proc_testing.h"
#include "conflict/running_program.h"

namespace {

using conflict_testing::FakeProc;
using conflict_testing::kFirstFakePid;

TEST(ProcessTable, ExecutableNameFromTheLinkOrElseTheCommandLine) {
    const struct {
        const char* what;
        std::string exe;  // "" : the link cannot be read
        std::vector<std::string> argv;
        std::string exeName;  // "" : not listed
        bool underWine;
    } cases[] = {
        {"a native program", "/opt/tintorra/Tintorra 6.exe", {"Tintorra 6.exe", "-m"}, "Tintorra 6.exe", false},
        {"a replaced executable", "/opt/o/otpro.exe (deleted)", {"otpro.exe"}, "otpro.exe", false},
        {"a Windows program under Wine", "/usr/bin/wine64-preloader", {R"(C:\G\Glowkeeper.exe)"}, "Glowkeeper.exe",
         true},
        {"another user's service", "", {"/usr/lib/scanvell/ScanvellService.exe", "--service"},
         "ScanvellService.exe", false},
        {"another user's Windows program", "", {R"(C:\Program Files\Scanvell\Scanvell5.exe)"}, "Scanvell5.exe",
         false},
        {"a bare command name", "", {"Pnlctrl.exe"}, "Pnlctrl.exe", false},
        {"a kernel thread", "", {}, "", false},
    };
    FakeProc proc;
    std::filesystem::create_directory(proc.Path() + "/self");  // not a process directory
    pid_t pid = kFirstFakePid;
    std::vector<ProcessInfo> expected;
    for (const auto& c : cases) {
        proc.Add(pid, c.exe, c.argv);
        if (!c.exeName.empty()) expected.push_back({pid, c.exeName, c.underWine});
        SCOPED_TRACE(c.what);
        const auto read = ReadProcess(pid);
        ASSERT_EQ(read.has_value(), !c.exeName.empty());
        if (read) {
            EXPECT_EQ(read->exeName, c.exeName);
            EXPECT_EQ(read->underWine, c.underWine);
            EXPECT_EQ(read->namedByCommandLineOnly, c.exe.empty());  // then it names itself
        }
        ++pid;
    }
    const auto listed = SnapshotProcesses();
    ASSERT_EQ(listed.size(), expected.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].pid, expected[i].pid);
        EXPECT_EQ(listed[i].exeName, expected[i].exeName);
    }
}

// A service run by root is invisible to a normal user through its executable
// link; its command line still makes it a known program, so it is closed.
TEST(ProcessTable, AProgramWhoseExecutableCannotBeReadIsListed) {
    FakeProc proc;
    proc.Add(kFirstFakePid, "", {"/usr/lib/scanvell/ScanvellService.exe"});
    const auto list = ListRunningPrograms();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].program.displayName, "Scanvell 4 Service");
    EXPECT_EQ(list[0].processId, static_cast<std::uint32_t>(kFirstFakePid));
    EXPECT_EQ(list[0].exePath, "");  // its memory map is as closed as its link
    EXPECT_TRUE(list[0].IsRunning());
}

TEST(ProcessTable, AProcDirectoryThatCannotBeReadListsNothingAndNotesWhy) {
    const std::string missing = FakeProc().Path();  // removed again at once
    ScopedProcRoot installed(missing);
    EXPECT_TRUE(SnapshotProcesses().empty());
    EXPECT_EQ(TakeSystemFailure(), (SystemFailure{"opendir " + missing, ENOENT}));
}

}  // namespace
