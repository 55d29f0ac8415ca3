#include "conflict/process_linux.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/system_failure.h"

namespace {

constexpr char kSystemProcRoot[] = "/proc";
std::atomic<const std::string*> g_procRoot{nullptr};

std::string ProcessDir(pid_t pid) { return ProcRoot() + "/" + std::to_string(pid); }

constexpr std::string_view kDeleted = " (deleted)";  // the kernel's mark on a replaced file

std::string WithoutDeletedMark(std::string path) {
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    return path;
}

std::string BaseName(const std::string& path, std::string_view separators) {
    const auto last = path.find_last_of(separators);
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::optional<std::string> ReadLink(const std::string& path) {
    std::array<char, 4096> buffer;
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

// argv[0]: /proc/PID/cmdline up to its first zero byte.
std::optional<std::string> FirstArgument(pid_t pid) {
    std::ifstream in(ProcessDir(pid) + "/cmdline", std::ios::binary);
    std::string argv0;
    if (!std::getline(in, argv0, '\0') || argv0.empty()) return std::nullopt;
    return argv0;
}

}  // namespace

std::string ProcRoot() {
    const std::string* root = g_procRoot.load(std::memory_order_acquire);
    return root != nullptr ? *root : kSystemProcRoot;
}

ScopedProcRoot::ScopedProcRoot(std::string root)
    : root_(std::move(root)), previous_(g_procRoot.exchange(&root_, std::memory_order_acq_rel)) {}

ScopedProcRoot::~ScopedProcRoot() { g_procRoot.store(previous_, std::memory_order_release); }

bool IsWineLoader(const std::string& baseName) {
    static constexpr std::string_view kLoaders[] = {"wine", "wine64", "wine-preloader", "wine64-preloader"};
    return std::find(std::begin(kLoaders), std::end(kLoaders), baseName) != std::end(kLoaders);
}

std::optional<ProcessInfo> ReadProcess(pid_t pid) {
    ProcessInfo info;
    info.pid = pid;
    const auto exe = ReadLink(ProcessDir(pid) + "/exe");
    if (!exe) {
        // Another user's process (a service under root): its executable link is
        // refused, but its command line is readable and names the program.
        // Kernel threads and ended processes have none, and stay unlisted.
        const auto argv0 = FirstArgument(pid);
        if (!argv0) return std::nullopt;
        info.exeName = BaseName(*argv0, "\\/");
        info.namedByCommandLineOnly = true;
        return info;
    }
    info.exeName = BaseName(WithoutDeletedMark(*exe), "/");
    if (IsWineLoader(info.exeName)) {
        const auto argv0 = FirstArgument(pid);
        if (!argv0) return std::nullopt;
        info.exeName = BaseName(*argv0, "\\/");
        info.underWine = true;
    }
    return info;
}

std::vector<ProcessInfo> SnapshotProcesses() {
    ClearSystemFailure();
    std::vector<pid_t> pids;
    const std::string root = ProcRoot();
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir(root.c_str()), closedir);
    if (!proc) {
        const int error = errno;
        NoteSystemFailure("opendir " + root, error);  // no program can be found, so none is closed
        return {};
    }
    while (const dirent* entry = readdir(proc.get())) {
        const std::string name = entry->d_name;
        if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            pids.push_back(static_cast<pid_t>(std::stol(name)));
    }
    std::sort(pids.begin(), pids.end());
    std::vector<ProcessInfo> processes;
    for (const pid_t pid : pids)
        if (auto info = ReadProcess(pid)) processes.push_back(std::move(*info));
    return processes;
}

std::string FindModulePath(pid_t pid, const std::string& exeName) {
    // A native program's executable is its own link; it is also readable at
    // once after the program starts, when its memory map may still be empty.
    if (const auto exe = ReadLink(ProcessDir(pid) + "/exe")) {
        const std::string path = WithoutDeletedMark(*exe);
        if (BaseName(path, "/") == exeName) return path;
    }
    std::ifstream maps(ProcessDir(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        // address perms offset device inode, then the path (which may hold spaces)
        std::istringstream fields(line);
        std::string skipped;
        for (int i = 0; i < 5; ++i) fields >> skipped;
        std::string path;
        std::getline(fields >> std::ws, path);
        if (path.empty() || path.front() != '/') continue;
        path = WithoutDeletedMark(path);
        if (BaseName(path, "/") == exeName) return path;
    }
    return {};
}
