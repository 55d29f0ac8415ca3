#include "app/worker_threads.h"

#include <array>
#include <cstring>
#include <system_error>

#include "conflict/running_program.h"
#include "monitor/command_usages.h"
#include "package/pkg.h"
#include "package/version_text.h"
#include "update/combined_packet_update.h"
#include "update/older_monitor_update.h"
#include "update/update_context.h"

namespace {

std::atomic<bool> failThreadCreation{false};

constexpr std::uint16_t kKindOneSet = 16;
constexpr std::uint16_t kKindManySets = 32;

template <std::size_t N>
std::string TextProperty(PackageHandle handle, std::uint32_t id) {
    std::array<char, N> buffer{};
    PkgGetProperty(handle, id, buffer.data(), buffer.size());
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

}  // namespace

// --- Threads ---

WorkerThread::WorkerThread() {
    if (failThreadCreation.load()) return;
    try {
        thread_ = std::thread([this] { Procedure(); });
    } catch (const std::system_error&) {
        // No thread: the owner finds the object ended at its first tick.
    }
}

WorkerThread::~WorkerThread() { Join(); }

void WorkerThread::Procedure() {
    {
        std::unique_lock lock(mutex_);
        resumed_.wait(lock, [this] { return gate_ != Gate::Waiting; });
        if (gate_ == Gate::Cancelled) {
            ended_.store(true, std::memory_order_release);
            return;
        }
    }
    Run();
    std::lock_guard lock(mutex_);
    ended_.store(true, std::memory_order_release);
    endedSignal_.notify_all();
}

bool WorkerThread::HasEnded() const { return !thread_.joinable() || ended_.load(std::memory_order_acquire); }

void WorkerThread::WaitUntilEnded() {
    if (!thread_.joinable()) return;
    std::unique_lock lock(mutex_);
    endedSignal_.wait(lock, [this] { return ended_.load(std::memory_order_acquire); });
}

bool WorkerThread::Resume() {
    if (HasEnded()) return false;
    std::lock_guard lock(mutex_);
    if (gate_ != Gate::Waiting) return false;
    gate_ = Gate::Resumed;
    resumed_.notify_one();
    return true;
}

void WorkerThread::Join() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        if (gate_ == Gate::Waiting) gate_ = Gate::Cancelled;
        resumed_.notify_one();
    }
    // A running body cannot be stopped safely (it may hold the monitor in the
    // middle of a write), so a thread still running is waited for. The window
    // never gets here with a thread running: it refuses to close while a worker exists.
    thread_.join();
}

PackageCheckThread::PackageCheckThread(UpdateRun& owner, std::string packagePath)
    : owner_(owner), packagePath_(std::move(packagePath)) {}

PackageCheckThread::~PackageCheckThread() { Join(); }

bool PackageCheckThread::Start() { return Resume(); }

void PackageCheckThread::Run() {
    owner_.fileStatus = RunFilePhase(owner_, packagePath_);
    owner_.workerFailure = TakeSystemFailure();  // noted on this thread, reported on the window's
}

UpdateThread::UpdateThread() = default;

UpdateThread::~UpdateThread() { Join(); }

bool UpdateThread::Start(UpdateRun& owner) {
    owner_ = &owner;
    return Resume();
}

void UpdateThread::Run() {
    result_ = RunUpdatePhase(*owner_);
    result_.failure = TakeSystemFailure();  // noted on this thread, reported on the window's
}

// --- Thread bodies ---

bool ModelMatchesPattern(std::string_view pattern, std::string_view model) {
    const std::size_t star = pattern.find('*');
    if (star == 0) return true;
    if (star == std::string_view::npos) return pattern == model;
    return model.size() >= star && model.substr(0, star) == pattern.substr(0, star);
}

std::string ExpectedVersion(std::string_view packageVersion, std::string_view currentVersion) {
    return VersionText(packageVersion).FillWildcards(VersionText(currentVersion)).Text();
}

Status RunFilePhase(UpdateRun& run, const std::string& packagePath) {
    PackageHandle package = kNoPackageHandle;
    if (const Status status = PkgLoadFile(packagePath.c_str(), &package); IsFailure(status)) return status;
    const std::string model = run.target.ModelName();
    if (!ModelMatchesPattern(TextProperty<17>(package, kPropModelName), model)) return kPkgModelMismatch;

    std::uint16_t kind = 1;
    PkgGetProperty(package, kPropKind, &kind, sizeof kind);
    const std::string current = run.target.CurrentVersion();
    const std::string packageVersion = TextProperty<26>(package, kPropVersion);
    if (!VersionText(current).WellFormed()) return kAppFailed;
    if (ExpectedVersion(packageVersion, current) == current) return kAppAlreadyApplied;

    std::array<char, kVersionLength + 1> version{};
    current.copy(version.data(), kVersionLength);
    switch (kind) {
    case kKindOneSet:
        if (package == kNoPackageHandle || PkgHasMatchingSet(package, version.data()) != 1) return kPkgNoMatchingSet;
        run.selectedPackage = package;
        return kStatusSuccess;
    case kKindManySets: {
        PackageHandle selected = kNoPackageHandle;
        const Status status = PkgSelectSet(package, version.data(), &selected);
        if (!IsFailure(status)) run.selectedPackage = selected;
        return status;
    }
    default:
        return kPkgInvalidHandle;
    }
}

UpdateResult RunUpdatePhase(UpdateRun& run) {
    // Nothing written yet, and the monitor runs its firmware: stopping leaves it as it was.
    const bool fresh = run.record.stage == kStageNothingWritten && run.target.loaderFlag == 0;
    std::vector<std::string> leftRunning;
    for (const RunningProgram& program : ListRunningPrograms()) {
        // The update must not run beside a program that talks to the monitor.
        if (program.CloseProgram()) {
            run.closedPrograms.push_back(program);
            continue;
        }
        if (fresh && !program.namedByCommandLineOnly)
            return {kAppProgramNotClosed, run.target.monitorHandle, std::nullopt, program.program.displayName, {}};
        leftRunning.push_back(program.program.displayName);
    }
    const MonitorHandle monitor = run.target.monitorHandle;
    const PackageHandle package = run.selectedPackage;
    const PackageHandle record = run.record.recordHandle;
    UpdateContext update;
    // The sequence writes the backup file where the run keeps it.
    update.backupPath = run.record.filePath;
    update.progress = &run.progress;
    const Status status = MonitorHasUsage(monitor, command_usage::kCombinedPacket)
                              ? RunCombinedPacketUpdate(update, monitor, package, record)
                              : RunOlderMonitorUpdate(update, monitor, package, record);
    return {status, update.monitor, std::nullopt, {}, std::move(leftRunning)};
}

namespace worker_thread_testing {
void FailThreadCreation(bool fail) { failThreadCreation.store(fail); }
}  // namespace worker_thread_testing
