// Power lost at any moment of an update. For each kind of monitor, a whole
// update is run once to count its transfers; then, for every transfer, a fresh
// monitor loses its power at exactly that transfer and comes back as a power-on,
// and the updater is started again as a user would start it, until the update
// is complete. Every cut must end with the package's firmware on the monitor,
// its settings as they were, and no backup file.
#include <map>
#include <sstream>

#include "app/app_testing.h"

namespace {

using namespace app_testing;

// A user starts the updater again after a failed run, up to this many times in all.
constexpr int kMaxRuns = 5;
// Time a user takes before starting again: the monitor is back by then.
constexpr std::uint64_t kPauseBetweenRunsMs = 60'000;

struct CutOutcome {
    std::uint32_t transfer = 0;
    std::vector<std::vector<TextId>> messagesPerRun;
    bool firmware = false;
    bool settings = false;
    bool backupGone = false;
    bool Recovered() const { return firmware && settings && backupGone; }
};

std::string Describe(const CutOutcome& o) {
    std::ostringstream out;
    out << "cut at transfer " << o.transfer << ": firmware " << o.firmware << ", settings " << o.settings
        << ", backup gone " << o.backupGone << ", messages per run:";
    for (const auto& run : o.messagesPerRun) {
        out << " [";
        for (TextId id : run) out << " " << id;
        out << " ]";
    }
    return out.str();
}

// Runs the updater until a run completes the update (or kMaxRuns), with the
// monitor losing power at `cutAt` (0: never) counted from the first run's start.
CutOutcome UpdateWithPowerCut(MonitorKind kind, std::uint32_t cutAt, RecordingLog* log = nullptr) {
    Bench bench;
    Monitor& monitor = bench.Plug(kind);
    bench.WritePackage();
    if (log != nullptr) monitor.SetLog(log);
    if (cutAt != 0) {
        FaultPlan cut;
        cut.unplugAtTransfer = cutAt;
        monitor.AddFaults(cut);
    }
    CutOutcome outcome;
    outcome.transfer = cutAt;
    for (int i = 0; i < kMaxRuns; ++i) {
        ScriptedView view;
        auto run = bench.NewRun(view);
        RunToEnd(*run, view);
        if (!run->Ended()) run->Close();  // a run left waiting for the user is closed by the user
        outcome.messagesPerRun.push_back(view.MessageIds());
        if (view.MessageIds() == std::vector<TextId>{text_id::kComplete}) break;
        bench.clock.Advance(kPauseBetweenRunsMs);
    }
    monitor.SetLog(nullptr);
    bench.clock.Advance(kPauseBetweenRunsMs);  // a cut at the last transfer leaves the monitor off the bus a while
    const MonitorHandle handle = bench.Open();
    outcome.firmware = bench.VersionOf(handle) == MemoryText(kAfter) && monitor.Mode() == MonitorMode::Running;
    outcome.settings = ReadSettings(handle) == bench.before;
    outcome.backupGone = !bench.BackupExists();
    return outcome;
}

class PowerLossTest : public ::testing::TestWithParam<MonitorKind> {};
INSTANTIATE_TEST_SUITE_P(AllKinds, PowerLossTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(PowerLossTest, EveryCutEndsWithTheUpdateCompleteOnALaterRun) {
    RecordingLog log;
    const CutOutcome clean = UpdateWithPowerCut(GetParam(), 0, &log);
    ASSERT_TRUE(clean.Recovered()) << Describe(clean);
    const auto transfers = static_cast<std::uint32_t>(log.records.size());
    ASSERT_GT(transfers, 200u);

    std::map<std::size_t, int> runsNeeded;
    std::vector<std::string> failures;
    for (std::uint32_t cut = 1; cut <= transfers; ++cut) {
        const CutOutcome outcome = UpdateWithPowerCut(GetParam(), cut);
        if (!outcome.Recovered()) failures.push_back(Describe(outcome));
        ++runsNeeded[outcome.messagesPerRun.size()];
    }
    std::ostringstream summary;
    summary << KindName(GetParam()) << ": " << transfers << " cut points, " << failures.size() << " not recovered; runs needed:";
    for (const auto& [runs, count] : runsNeeded) summary << " " << runs << "→" << count;
    std::cout << summary.str() << "\n";
    EXPECT_TRUE(failures.empty()) << summary.str() << "\n" << [&] {
        std::string text;
        for (std::size_t i = 0; i < std::min<std::size_t>(failures.size(), 40); ++i) text += failures[i] + "\n";
        return text;
    }();
}

}  // namespace
