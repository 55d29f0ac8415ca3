#include "conflict/system_tools.h"

#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include "common/system_failure.h"

extern char** environ;

namespace {

class RealSystemTools final : public SystemTools {
public:
    void Start(const std::vector<std::string>& argv) override {
        if (argv.empty()) return;
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        // The new process inherits no descriptors beyond standard input, output and error.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        // Nor the updater's blocked stop signals and ignored SIGPIPE: a program
        // started with them would outlive logout and SIGTERM.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        pid_t pid = 0;
        ClearSystemFailure();
        const int failed = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            NoteSystemFailure("posix_spawn " + argv[0], failed);  // it returns the errno value
            return;
        }
        // Not waited for, but reaped when it ends so that it leaves no zombie behind.
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    }

    bool IsAdministrator() override { return geteuid() == 0; }
};

RealSystemTools& TheRealTools() {
    static RealSystemTools tools;
    return tools;
}

std::atomic<SystemTools*> g_installed{nullptr};

}  // namespace

int SystemTools::SendSignal(int processHandle, pid_t pid, int signal) {
    // pidfd_send_signal is called directly: this C library declares it without C linkage.
    const long rc = processHandle != -1 ? syscall(SYS_pidfd_send_signal, processHandle, signal, nullptr, 0)
                                        : kill(pid, signal);
    return rc == 0 ? 0 : errno;
}

SystemTools& ActiveSystemTools() {
    SystemTools* installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : TheRealTools();
}

ScopedSystemTools::ScopedSystemTools(SystemTools& tools)
    : previous_(g_installed.exchange(&tools, std::memory_order_acq_rel)) {}

ScopedSystemTools::~ScopedSystemTools() { g_installed.store(previous_, std::memory_order_release); }
