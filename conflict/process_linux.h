#pragma once
// The running processes as /proc shows them.
//
// A process's executable name is the base name of /proc/PID/exe; for a Windows
// program run under Wine (whose /proc/PID/exe is Wine's loader) it is the base
// name of its argv[0] after the last "\" or "/", since Wine puts the Windows
// program's path there. When the executable cannot be read (another user's
// process, for a normal user) the name comes from argv[0] in the same way, so
// that a service under root is found too; processes without either (kernel
// threads, ended processes) are not listed.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

struct ProcessInfo {
    pid_t pid = 0;
    std::string exeName;
    bool underWine = false;
    // The executable link could not be read: the name is only what the process
    // says of itself, which any local user's process can say.
    bool namedByCommandLineOnly = false;
};

// Every readable process, in ascending process ID order. When /proc cannot be
// read at all the list is empty, and the failure is noted as this thread's
// system failure (common/system_failure.h).
std::vector<ProcessInfo> SnapshotProcesses();

// The executable name of one process, or nothing when it cannot be read.
std::optional<ProcessInfo> ReadProcess(pid_t pid);

// The full path of the program's executable: /proc/PID/exe when its base name
// is exeName (a native program), else the first file mapped into the process
// with that base name (the .exe file of a Windows program under Wine). Empty
// when neither is found.
std::string FindModulePath(pid_t pid, const std::string& exeName);

// The /proc directory that is read: "/proc" unless a test has installed another.
std::string ProcRoot();

// Installs a /proc directory for the lifetime of this object, then puts the
// previous one back. Process-wide, like the clock: tests read a fake process table.
class ScopedProcRoot {
public:
    explicit ScopedProcRoot(std::string root);
    ~ScopedProcRoot();
    ScopedProcRoot(const ScopedProcRoot&) = delete;
    ScopedProcRoot& operator=(const ScopedProcRoot&) = delete;

private:
    std::string root_;
    const std::string* previous_;
};

// Whether an executable base name is one of Wine's loaders.
bool IsWineLoader(const std::string& baseName);
