#include "conflict/running_program.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "common/clock.h"
#include "common/system_failure.h"
#include "conflict/process_linux.h"
#include "conflict/quit_request.h"
#include "conflict/system_tools.h"

namespace {

// The process handle call, made directly: this C library declares it
// without C linkage.
int OpenProcessHandle(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

bool AnyProcessNamed(const std::string& exeName) {
    const auto processes = SnapshotProcesses();
    return std::any_of(processes.begin(), processes.end(), [&](const ProcessInfo& p) { return p.exeName == exeName; });
}

// Polls until the program is gone or the checks run out; true when it still runs.
bool WaitUntilGone(const RunningProgram& process, int checks, std::uint32_t intervalMs) {
    bool running = true;
    for (int i = 0; i < checks && running; ++i) {
        SleepMs(intervalMs);
        running = process.IsRunning();
    }
    return running;
}

}  // namespace

RunningProgram::RunningProgram(KnownProgram program, std::uint32_t processId, std::string exePath, bool underWine,
                         std::shared_ptr<const UniqueFd> processHandle, bool namedByCommandLineOnly)
    : program(std::move(program)),
      processId(processId),
      exePath(std::move(exePath)),
      underWine(underWine),
      namedByCommandLineOnly(namedByCommandLineOnly),
      processHandle_(std::move(processHandle)) {}

bool RunningProgram::IsRunning() const { return AnyProcessNamed(program.exeName); }

bool RunningProgram::RequestQuit() const {
    SendQuitRequest(program.pipeName);
    return WaitUntilGone(*this, kQuitChecks, kQuitCheckIntervalMs);
}

void RunningProgram::StopService() const {
    ActiveSystemTools().Start({"systemctl", "stop", program.serviceName});
    WaitUntilGone(*this, kServiceChecks, kServiceCheckIntervalMs);
}

bool RunningProgram::CloseProgram() const {
    if (!program.pipeName.empty()) RequestQuit();
    if (!program.serviceName.empty() && ActiveSystemTools().IsAdministrator()) StopService();
    if (!IsRunning()) return true;
    return Terminate();
}

bool RunningProgram::Terminate() const {
    // Asked first, so that the program can save its work; forced only when it stays.
    switch (Signal(SIGTERM)) {
        case SignalResult::Gone: return true;
        case SignalResult::Refused: return false;
        case SignalResult::Sent: break;
    }
    for (int i = 0; i < kTerminateChecks; ++i) {
        SleepMs(kTerminateCheckIntervalMs);
        if (HasEnded()) return true;
    }
    return Signal(SIGKILL) != SignalResult::Refused;
}

RunningProgram::SignalResult RunningProgram::Signal(int signal) const {
    const pid_t pid = static_cast<pid_t>(processId);
    const bool handle = processHandle_ && *processHandle_;
    if (!handle) {
        // Without a handle the process ID may have been reused: only the same program is signalled.
        const auto now = ReadProcess(pid);
        if (!now || now->exeName != program.exeName) return SignalResult::Gone;
    }
    const int error = ActiveSystemTools().SendSignal(handle ? processHandle_->get() : -1, pid, signal);
    if (error == 0) return SignalResult::Sent;
    if (error == ESRCH) return SignalResult::Gone;  // it has ended since it was listed
    NoteSystemFailure(std::string(handle ? "pidfd_send_signal " : "kill ") + std::to_string(processId), error);
    return SignalResult::Refused;
}

bool RunningProgram::HasEnded() const {
    if (processHandle_ && *processHandle_) {
        // A process handle becomes readable when its process ends.
        pollfd watched{processHandle_->get(), POLLIN, 0};
        return poll(&watched, 1, 0) > 0;
    }
    const auto now = ReadProcess(static_cast<pid_t>(processId));
    return !now || now->exeName != program.exeName;
}

void RunningProgram::RestartProgram() const {
    if (!program.restartAfterUpdate) return;
    if (!program.serviceName.empty()) {
        ActiveSystemTools().Start({"systemctl", "start", program.serviceName});
    } else if (!exePath.empty()) {
        if (underWine) ActiveSystemTools().Start({"wine", exePath});
        else ActiveSystemTools().Start({exePath});
    }
}

std::vector<RunningProgram> ListRunningPrograms() {
    const auto& table = GetKnownPrograms();
    std::vector<RunningProgram> list;
    for (const ProcessInfo& p : SnapshotProcesses()) {
        const auto row = table.find(p.exeName);
        if (row == table.end()) continue;
        auto handle = std::make_shared<const UniqueFd>(OpenProcessHandle(p.pid));
        list.emplace_back(row->second, static_cast<std::uint32_t>(p.pid), FindModulePath(p.pid, p.exeName),
                          p.underWine, *handle ? std::move(handle) : nullptr, p.namedByCommandLineOnly);
    }
    std::stable_sort(list.begin(), list.end(), [](const RunningProgram& a, const RunningProgram& b) {
        return a.program.closeOrder < b.program.closeOrder;
    });
    return list;
}
