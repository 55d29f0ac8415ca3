#pragma once
// A fake /proc for tests, installed for the object's lifetime: process
// directories with an executable link and a command line, so that tests list
// processes that do not exist, such as another user's service.
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/temp_dir_testing.h"
#include "conflict/process_linux.h"

namespace conflict_testing {

// Above the largest process ID the kernel gives (2^22), so no real process can
// be reached through a fake one.
inline constexpr pid_t kFirstFakePid = 5000000;

class FakeProc {
public:
    FakeProc() : installed_(dir_.Path()) {}

    // Adds a process. An empty `exe` leaves the executable link out, as the
    // kernel refuses it for another user's process; an empty argv gives the
    // empty command line of a kernel thread.
    void Add(pid_t pid, const std::string& exe, const std::vector<std::string>& argv) {
        const std::string dir = dir_.File(std::to_string(pid));
        std::filesystem::create_directory(dir);
        if (!exe.empty()) std::filesystem::create_symlink(exe, dir + "/exe");
        std::ofstream cmdline(dir + "/cmdline", std::ios::binary);
        for (const std::string& arg : argv) cmdline << arg << '\0';
    }

    const std::string& Path() const { return dir_.Path(); }

private:
    TempDir dir_;
    ScopedProcRoot installed_;
};

}  // namespace conflict_testing
