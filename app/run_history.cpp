#include "app/run_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "app/failure_report.h"
#include "app/run_log.h"
#include "common/display_text.h"
#include "common/status.h"
#include "common/unique_fd.h"

namespace {

// More than any run writes; the rest of a larger file is not read.
constexpr std::size_t kLongestLog = 4 << 20;

// The log's lines show their text as DisplayText does: the bytes back as they
// were; a text that is not of that shape as it stands.
std::string Unescaped(std::string_view shown) { return BytesOfDisplayText(shown).value_or(std::string(shown)); }

// A line is "DATE TIME ZONE +SECONDS s TEXT"; `when` gets "DATE TIME ZONE".
// nullopt for a line of another shape.
std::optional<std::string_view> LineText(std::string_view line, std::string_view* when = nullptr) {
    std::size_t at = 0;
    for (int field = 0; field < 5; ++field) {
        at = line.find(' ', at);
        if (at == std::string_view::npos) return std::nullopt;
        if (field == 2 && when != nullptr) *when = line.substr(0, at);
        if (field == 3 && line.substr(at + 1, 2) != "s ") return std::nullopt;
        ++at;
    }
    return line.substr(at);
}

// The text between `start` and `end` in `text` (to its end when `end` is empty
// or not found), when `text` begins with `start`.
std::optional<std::string_view> After(std::string_view text, std::string_view start, std::string_view end = {}) {
    if (!text.starts_with(start)) return std::nullopt;
    text.remove_prefix(start.size());
    if (!end.empty()) text = text.substr(0, text.find(end));
    return text;
}

// "MODEL S/N SERIAL" into the run's monitor.
void TakeMonitor(std::string_view text, PastRun& run) {
    const std::size_t split = text.rfind(" S/N ");
    if (split == std::string_view::npos) return;
    run.model = Unescaped(text.substr(0, split));
    run.serial = Unescaped(text.substr(split + 5));
}

// "status 0x80000011 (...)" or "status 0x80000011": the code.
std::string StatusCode(std::string_view text) {
    const std::optional<std::string_view> code = After(text, "status ", " ");
    return code ? std::string(*code) : std::string();
}

void TakeLine(std::string_view text, PastRun& run) {
    if (const auto monitor = After(text, "monitor selected: ")) {
        TakeMonitor(*monitor, run);
    } else if (const auto described = After(text, "monitor: ")) {
        const std::size_t before = described->rfind(", firmware before the update ");
        if (before == std::string_view::npos) return;
        TakeMonitor(described->substr(0, before), run);
        std::string_view version = described->substr(before + std::string_view(", firmware before the update ").size());
        version = version.substr(0, version.find(','));
        run.fromVersion = Unescaped(version);
    } else if (const auto resumed = After(text, "resuming the interrupted update recorded in ")) {
        run.resumed = true;
        const std::size_t to = resumed->rfind(", to firmware ");
        if (to != std::string_view::npos) run.toVersion = Unescaped(resumed->substr(to + 14));
    } else if (const auto version = After(text, "package: version ", ", firmware set for ")) {
        if (*version != "(unreadable)") run.toVersion = Unescaped(*version);
    } else if (text == "result: completed") {
        run.result = RunResult::Completed;
        run.status = StatusCodeText(kStatusSuccess);
    } else if (const auto failed = After(text, "result: failed with ")) {
        run.result = RunResult::Failed;
        run.status = StatusCode(*failed);
    } else if (const auto ended = After(text, "result: ended with ")) {
        run.result = RunResult::Ended;
        run.status = StatusCode(*ended);
    } else if (text == "result: ended by the user") {
        run.result = RunResult::Cancelled;
    }
}

// The file's first kLongestLog bytes; nullopt when it cannot be read or is no
// regular file (a FIFO or a device is never waited on, a link never followed).
std::optional<std::string> ReadLogFile(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    std::string text(std::min<std::size_t>(static_cast<std::size_t>(status.st_size), kLongestLog), '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(fd.get(), text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    return text;
}

}  // namespace

std::optional<PastRun> ParseRunLog(std::string_view text) {
    PastRun run;
    bool first = true;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        std::string_view when;
        const std::optional<std::string_view> said = LineText(line, first ? &when : nullptr);
        if (first) {
            // "quillon 1.2.0 (quillon-cli, process 4711)"
            const auto program = said ? After(*said, "quillon ") : std::nullopt;
            const std::size_t open = program ? program->find(" (") : std::string_view::npos;
            const std::size_t comma = program ? program->find(", process ") : std::string_view::npos;
            if (open == std::string_view::npos || comma == std::string_view::npos || comma < open) return std::nullopt;
            run.program = Unescaped(program->substr(open + 2, comma - open - 2));
            run.startTime = std::string(when);
            first = false;
            continue;
        }
        if (said) TakeLine(*said, run);
    }
    if (first) return std::nullopt;
    return run;
}

std::vector<PastRun> ReadRunHistory(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (IsRunLogName(name)) names.push_back(name);
    }
    // Newest first, as RunLog orders them.
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return RunLogOrder(b, a); });
    std::vector<PastRun> runs;
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        const std::optional<std::string> text = ReadLogFile(path);
        std::optional<PastRun> run = text ? ParseRunLog(*text) : std::nullopt;
        if (!run) continue;
        run->logPath = path;
        runs.push_back(std::move(*run));
    }
    return runs;
}

std::string_view RunResultName(RunResult result) {
    switch (result) {
        case RunResult::Completed: return "completed";
        case RunResult::Failed: return "failed";
        case RunResult::Ended: return "ended";
        case RunResult::Cancelled: return "cancelled";
        case RunResult::Incomplete: return "incomplete";
    }
    return "incomplete";
}
