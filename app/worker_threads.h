#pragma once
// The two worker threads of a run: the file thread loads the package and
// decides whether and with which firmware set it fits the monitor; the update
// thread closes the conflicting programs and runs the update. Each leaves one
// result, in the run or in the thread object, which the window reads only once
// the thread has ended.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/update_run.h"

class WorkerThread {
public:
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // True when there is no thread, or its body has returned (and stored its result).
    bool HasEnded() const;
    // Blocks until HasEnded() holds. The window never blocks on a worker; tests do.
    void WaitUntilEnded();

protected:
    // Creates the thread, waiting to be resumed; without a thread (creation
    // failed) the object counts as ended at once.
    WorkerThread();
    // Lets a waiting thread run; false when there is none.
    bool Resume();
    // Waits for the thread; a thread never resumed ends without running.
    // Derived classes call it first in their destructors, so that the body
    // never runs on a half-destroyed object.
    void Join();

    virtual void Run() = 0;

private:
    enum class Gate { Waiting, Resumed, Cancelled };
    void Procedure();

    std::mutex mutex_;  // guards gate_, and orders ended_ with endedSignal_
    std::condition_variable resumed_;
    std::condition_variable endedSignal_;
    Gate gate_ = Gate::Waiting;
    // Stored with release after the body's result, read with acquire.
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

class PackageCheckThread final : public WorkerThread {
public:
    PackageCheckThread(UpdateRun& owner, std::string packagePath);
    ~PackageCheckThread() override;
    bool Start();

private:
    void Run() override;
    UpdateRun& owner_;
    std::string packagePath_;
};

// What an update hands over once it has ended.
struct UpdateResult {
    Status status = kAppFailed;  // stays so when the update never ran
    // The monitor's present handle: every restart gives the monitor a new one.
    // kNoMonitor when the update lost the monitor.
    MonitorHandle monitor = kNoMonitor;
    // The failed system call behind a failure status, when there was one.
    std::optional<SystemFailure> failure;
    // With kAppProgramNotClosed: the display name of the program that still runs.
    std::string programNotClosed;
    // Programs that could not be closed and did not stop the update: the monitor
    // had left its firmware already, or the program was known only by its command line.
    std::vector<std::string> programsLeftRunning;
};

class UpdateThread final : public WorkerThread {
public:
    UpdateThread();
    ~UpdateThread() override;
    bool Start(UpdateRun& owner);
    // Only once HasEnded(): the end of the thread orders its writes before this read.
    const UpdateResult& Result() const { return result_; }

private:
    void Run() override;
    UpdateRun* owner_ = nullptr;
    UpdateResult result_;
};

// The file thread's body: loads the package, tests it against the monitor's
// model and version and picks the firmware set; on success the run's
// selectedPackage holds the one-set package to write.
Status RunFilePhase(UpdateRun& run, const std::string& packagePath);
// The update thread's body: closes every running conflicting program (each
// is kept in the run's closedPrograms) and runs the update sequence that fits
// the monitor, on an update it owns for the run. A program that cannot be
// closed stops a fresh update with kAppProgramNotClosed before anything is
// written; that program is not kept, so it is never started again. Once the
// monitor has left its firmware, stopping would strand it: the update goes on,
// and the program is named in programsLeftRunning. So is a program known only by
// its command line, which never stops an update: any local user can start a
// process under a maker's program name.
UpdateResult RunUpdatePhase(UpdateRun& run);

// A model-name pattern: "*" first accepts every model, no "*" only the same
// name, else the characters before the first "*" must begin the model name.
bool ModelMatchesPattern(std::string_view pattern, std::string_view model);
// The version a package leaves on the monitor: its fields, with each wildcard
// field ("00000") taken from the monitor's current version; one the current
// version does not hold whole stays a wildcard.
std::string ExpectedVersion(std::string_view packageVersion, std::string_view currentVersion);

namespace worker_thread_testing {
// While set, creating a worker thread fails, as when the system refuses one.
void FailThreadCreation(bool fail);
}  // namespace worker_thread_testing
