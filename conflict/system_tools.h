#pragma once
// The system's tools as the conflicting-software control uses them: starting a
// program without waiting for it (no shell anywhere), the administrator test,
// and signals to a process. Tests install their own through ScopedSystemTools.
#include <sys/types.h>

#include <string>
#include <vector>

class SystemTools {
public:
    virtual ~SystemTools() = default;
    // Starts argv[0] (searched in PATH when it has no "/") with the arguments,
    // no signal blocked and every signal's default action, whatever the caller
    // blocks or ignores; nothing is waited for, and a failure is only noted as
    // this thread's system failure (common/system_failure.h).
    virtual void Start(const std::vector<std::string>& argv) = 0;
    // Services are stopped only by an administrator: effective user id 0.
    virtual bool IsAdministrator() = 0;
    // Sends `signal` through the process handle (a pidfd) when it is not -1,
    // else to the process ID. 0, or the errno value of the failed call. The
    // system's own by default, so that tools replacing only the above still
    // end the test's stand-in programs.
    virtual int SendSignal(int processHandle, pid_t pid, int signal);
};

// Process-wide on purpose, like the clock: the seam through which tests
// replace the system's tools for the whole process while they run.
SystemTools& ActiveSystemTools();

class ScopedSystemTools {
public:
    explicit ScopedSystemTools(SystemTools& tools);
    ~ScopedSystemTools();
    ScopedSystemTools(const ScopedSystemTools&) = delete;
    ScopedSystemTools& operator=(const ScopedSystemTools&) = delete;

private:
    SystemTools* previous_;
};
