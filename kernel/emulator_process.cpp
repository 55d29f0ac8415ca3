#include "kernel/emulator_process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

std::string EmulatorProcess::ProgramPath() {
    const char* chosen = std::getenv("QUILLON_MONITOR_EMULATOR");
    return chosen != nullptr && *chosen != '\0' ? chosen : QUILLON_MONITOR_EMULATOR;
}

EmulatorProcess::EmulatorProcess(const std::vector<std::string>& args, int monitors, int readyMs) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    stdout_ = UniqueFd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);

    std::vector<std::string> line{ProgramPath()};
    line.insert(line.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : line) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    const int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.Close();
    if (error != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(error);
        return;
    }

    // One line per monitor, each once the monitor is plugged in.
    std::string pending;
    while (static_cast<int>(where_.size()) < monitors) {
        pollfd p{stdout_.get(), POLLIN, 0};
        if (::poll(&p, 1, readyMs) <= 0) {
            ADD_FAILURE() << "monitor-emulator printed " << where_.size() << " of " << monitors << " lines in "
                          << readyMs << " ms";
            Kill();
            return;
        }
        char buffer[256];
        const ssize_t n = ::read(stdout_.get(), buffer, sizeof buffer);
        if (n <= 0) {
            ADD_FAILURE() << "monitor-emulator ended before it was ready (exit " << Stop() << ")";
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            where_.push_back(pending.substr(0, end));
    }
}

EmulatorProcess::~EmulatorProcess() { Stop(); }

int EmulatorProcess::Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void EmulatorProcess::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}
