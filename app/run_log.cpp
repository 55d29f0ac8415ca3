#include "app/run_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "app/state_folder.h"
#include "common/clock.h"
#include "common/display_text.h"

namespace {

constexpr std::string_view kRunLogPrefix = "run-";
constexpr std::string_view kRunLogSuffix = ".log";
constexpr mode_t kFileMode = 0600;


timespec WallTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// "run-20261210-211500-123-4567": UTC, so that the names sort by time across
// changes of the local time too.
std::string RunLogStem(const timespec& now) {
    tm utc{};
    ::gmtime_r(&now.tv_sec, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    char stem[64];
    std::snprintf(stem, sizeof stem, "run-%s-%03ld-%ld", stamp, static_cast<long>(now.tv_nsec / 1'000'000),
                  static_cast<long>(::getpid()));
    return stem;
}

// "2026-12-10 22:15:00.123 +0100"
std::string LocalTimeStamp(const timespec& now) {
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%s.%03ld %s", date, static_cast<long>(now.tv_nsec / 1'000'000), zone);
    return stamp;
}

}  // namespace

bool IsRunLogName(std::string_view name) {
    if (name.size() <= kRunLogPrefix.size() + kRunLogSuffix.size()) return false;
    if (!name.starts_with(kRunLogPrefix) || !name.ends_with(kRunLogSuffix)) return false;
    const std::string_view middle =
        name.substr(kRunLogPrefix.size(), name.size() - kRunLogPrefix.size() - kRunLogSuffix.size());
    return std::all_of(middle.begin(), middle.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

bool RunLogOrder(std::string_view a, std::string_view b) {
    return a.substr(0, a.size() - kRunLogSuffix.size()) < b.substr(0, b.size() - kRunLogSuffix.size());
}

RunLog::RunLog(const std::string& folder) : openedMs_(NowMs()) {
    if (folder.empty()) {
        NoteProblem("no folder for it: neither XDG_STATE_HOME, HOME nor the user database names one", ENOENT);
        return;
    }
    std::string failedAt;
    if (const int error = MakeStateFolder(folder, failedAt); error != 0) {
        NoteProblem("mkdir " + failedAt, error);
        return;
    }

    // The oldest of our own logs go, so that with this run's kKeptRunLogs remain.
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        NoteProblem("opendir " + folder, errno);
        return;
    }
    std::vector<std::string> logs;
    while (const dirent* entry = ::readdir(directory))
        if (IsRunLogName(entry->d_name)) logs.emplace_back(entry->d_name);
    ::closedir(directory);
    std::sort(logs.begin(), logs.end(), RunLogOrder);
    if (logs.size() >= kKeptRunLogs) {
        const std::size_t extra = logs.size() - (kKeptRunLogs - 1);
        for (std::size_t i = 0; i < extra; ++i) ::unlink((folder + "/" + logs[i]).c_str());
    }

    const std::string stem = folder + "/" + RunLogStem(WallTime());
    // Runs of one process within a millisecond (tests) get a number each.
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string path = stem + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + std::string(kRunLogSuffix);
        fd_ = UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, kFileMode));
        if (fd_) {
            path_ = std::move(path);
            return;
        }
        if (errno != EEXIST) {
            NoteProblem("open " + path, errno);
            return;
        }
    }
    NoteProblem("open " + stem + std::string(kRunLogSuffix), EEXIST);
}

void RunLog::Write(std::string_view text) {
    const timespec now = WallTime();
    const std::uint64_t elapsedMs = NowMs() - openedMs_;
    char elapsed[40];
    std::snprintf(elapsed, sizeof elapsed, " +%llu.%03u s ", static_cast<unsigned long long>(elapsedMs / 1000),
                  static_cast<unsigned>(elapsedMs % 1000));
    const std::string line = LocalTimeStamp(now) + elapsed + DisplayText(text) + '\n';

    std::lock_guard lock(mutex_);
    if (!fd_) return;
    // One write a line, so that a run killed at any moment leaves whole lines up
    // to its last step; the loop only finishes a write the disk cut short.
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t written = ::write(fd_.get(), rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            NoteProblem("write " + path_, written < 0 ? errno : ENOSPC);
            fd_.Close();
            return;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::optional<SystemFailure> RunLog::TakeProblem() {
    std::lock_guard lock(mutex_);
    return std::exchange(problem_, std::nullopt);
}

void RunLog::NoteProblem(std::string operation, int error) {
    if (problemNoted_) return;
    problemNoted_ = true;
    problem_ = SystemFailure{std::move(operation), error};
}
