#include "cli/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "cli/cli_io.h"

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&set, signal);
    return set;
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = StopSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    fd_ = UniqueFd(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
}

std::optional<int> StopSignals::ReadSignal() {
    signalfd_siginfo info{};
    if (!fd_ || read(fd_.get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return std::nullopt;
    return static_cast<int>(info.ssi_signo);
}

std::optional<int> StopSignals::Take() {
    if (pending_) return std::exchange(pending_, std::nullopt);
    return ReadSignal();
}

void StopSignals::Suspend(int signal) {
    // Sent to this thread while it blocks the signal, then let through here
    // alone: its default action stops the whole process until SIGCONT.
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    raise(signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    pthread_sigmask(SIG_BLOCK, &one, nullptr);
}

std::optional<std::string> StopSignals::ReadLine(int fd) {
    std::string line;
    for (;;) {
        std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {fd_.get(), POLLIN, 0}}};
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (fds[1].revents & POLLIN) {
            if (std::optional<int> signal = ReadSignal()) {
                if (SuspendsTheJob(*signal)) {
                    Suspend(*signal);
                    continue;
                }
                pending_ = signal;
                return std::nullopt;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char c = 0;
            const ssize_t n = read(fd, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
            if (c == '\n') return line;
            line += c;
        }
    }
}
