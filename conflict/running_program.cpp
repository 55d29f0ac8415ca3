#include "conflict/running_program.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "common/clock.h"
#include "common/system_failure.h"
#include "conflict/process_linux.h"
#include "conflict/quit_request.h"
#include "conflict/system_tools.h"

namespace {

// The process handle calls, made directly: this C library declares them
// without C linkage.
int OpenProcessHandle(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int KillThroughHandle(int pidfd) { return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0)); }

// A signal that could not be sent leaves the program running. ESRCH is no
// failure: the process has ended since it was listed.
void NoteKillFailure(int rc, const char* call, std::uint32_t processId) {
    const int error = errno;
    if (rc == 0 || error == ESRCH) return;
    NoteSystemFailure(std::string(call) + " " + std::to_string(processId), error);
}

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
                         std::shared_ptr<const UniqueFd> processHandle)
    : program(std::move(program)),
      processId(processId),
      exePath(std::move(exePath)),
      underWine(underWine),
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

void RunningProgram::CloseProgram() const {
    if (!program.pipeName.empty()) RequestQuit();
    if (!program.serviceName.empty() && ActiveSystemTools().IsAdministrator()) StopService();
    if (!IsRunning()) return;
    // Terminated at once, as a forced end: SIGKILL.
    if (processHandle_ && *processHandle_) {
        NoteKillFailure(KillThroughHandle(processHandle_->get()), "pidfd_send_signal", processId);
        return;
    }
    const auto now = ReadProcess(static_cast<pid_t>(processId));
    if (now && now->exeName == program.exeName)
        NoteKillFailure(kill(static_cast<pid_t>(processId), SIGKILL), "kill", processId);
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
                          p.underWine, *handle ? std::move(handle) : nullptr);
    }
    std::stable_sort(list.begin(), list.end(), [](const RunningProgram& a, const RunningProgram& b) {
        return a.program.closeOrder < b.program.closeOrder;
    });
    return list;
}
