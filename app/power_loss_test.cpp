// Power lost at any moment of an update. For each kind of monitor, a whole
// update is run once to count its transfers; then, for every transfer, a fresh
// monitor loses its power at exactly that transfer and comes back as a power-on,
// and the updater is started again as a user would start it, until the update
// is complete. Every cut must end with the package's firmware on the monitor,
// its settings as they were, and no backup file.
#include <algorithm>
#include <map>
#include <sstream>

#include "app/app_testing.h"

namespace {

using namespace app_testing;

// A user starts the updater again after a failed run, up to this many times in all.
constexpr int kMaxRuns = 5;
// Time a user takes before starting again: the monitor is back by then.
constexpr std::uint64_t kPauseBetweenRunsMs = 60'000;
// The sanitizer build takes every fourth cut: it looks for memory faults, and
// neighbouring cuts run the same code; the normal build takes every cut.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint32_t kCutStride = 4;
#else
constexpr std::uint32_t kCutStride = 1;
#endif

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

// Runs the updater until a run completes the update (or kMaxRuns). Run i
// loses the monitor's power at transfer cuts[i] of its own (0: never).
// `log`, when given, receives every transfer of every run.
CutOutcome UpdateWithPowerCuts(MonitorKind kind, const std::vector<std::uint32_t>& cuts, RecordingLog* log = nullptr,
                               std::vector<std::size_t>* runStarts = nullptr) {
    Bench bench;
    Monitor& monitor = bench.Plug(kind);
    bench.WritePackage();
    if (log != nullptr) monitor.SetLog(log);
    CutOutcome outcome;
    outcome.transfer = cuts.empty() ? 0 : cuts.back();
    for (std::size_t i = 0; i < kMaxRuns; ++i) {
        if (i < cuts.size() && cuts[i] != 0) {
            FaultPlan cut;
            cut.unplugAtTransfer = cuts[i];
            monitor.AddFaults(cut);
        }
        if (runStarts != nullptr && log != nullptr) runStarts->push_back(log->records.size());
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
    outcome.firmware = bench.VersionOf(handle) == MemoryText(kAfter) && monitor.Mode() == MonitorMode::Running &&
                       monitor.State().bootSelector == 0;
    outcome.settings = ReadSettings(handle) == bench.before;
    outcome.backupGone = !bench.BackupExists();
    return outcome;
}

CutOutcome UpdateWithPowerCut(MonitorKind kind, std::uint32_t cutAt, RecordingLog* log = nullptr) {
    return UpdateWithPowerCuts(kind, {cutAt}, log);
}

// Counts the cuts that did not recover, and how many runs the others needed.
struct MatrixTally {
    std::map<std::size_t, int> runsNeeded;
    std::vector<std::string> failures;
    std::size_t cuts = 0;

    void Add(const CutOutcome& outcome) {
        ++cuts;
        if (!outcome.Recovered()) failures.push_back(Describe(outcome));
        ++runsNeeded[outcome.messagesPerRun.size()];
    }
    std::string Summary(const std::string& title, std::size_t transfers) const {
        std::ostringstream out;
        out << title << ": " << transfers << " transfers, " << cuts << " cut points, " << failures.size() << " not recovered; runs needed:";
        for (const auto& [runs, count] : runsNeeded) out << " " << runs << "→" << count;
        return out.str();
    }
    std::string FirstFailures() const {
        std::string text;
        for (std::size_t i = 0; i < std::min<std::size_t>(failures.size(), 40); ++i) text += failures[i] + "\n";
        return text;
    }
};

bool IsComponentPacket(const TransferRecord& r) {
    const UsageAddress u = r.tunnelled ? *r.tunnelled : r.report;
    return r.isSet && u.page == 0xFF02 && (u.usage == 0x00C7 || u.usage == 0x00FE);
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

    MatrixTally tally;
    for (std::uint32_t cut = 1; cut <= transfers; cut += kCutStride) tally.Add(UpdateWithPowerCut(GetParam(), cut));
    const std::string summary = tally.Summary(KindName(GetParam()), transfers);
    std::cout << summary << "\n";
    EXPECT_TRUE(tally.failures.empty()) << summary << "\n" << tally.FirstFailures();
}

// The power fails while the first component is written, and again at any
// moment of the resumed run: after the resumed run has restarted the monitor
// into its new firmware, the backup file expects a monitor waiting in an
// update, and the monitor runs instead.
TEST_P(PowerLossTest, ASecondCutInTheResumedRunRecoversToo) {
    RecordingLog clean;
    ASSERT_TRUE(UpdateWithPowerCut(GetParam(), 0, &clean).Recovered());
    const auto first = std::find_if(clean.records.begin(), clean.records.end(), IsComponentPacket);
    ASSERT_NE(first, clean.records.end());
    const auto firstCut = static_cast<std::uint32_t>(first - clean.records.begin()) + 1;

    RecordingLog log;
    std::vector<std::size_t> runStarts;
    const CutOutcome once = UpdateWithPowerCuts(GetParam(), {firstCut}, &log, &runStarts);
    ASSERT_TRUE(once.Recovered()) << Describe(once);
    ASSERT_EQ(runStarts.size(), 2u);
    const auto resumedTransfers = static_cast<std::uint32_t>(log.records.size() - runStarts[1]);

    MatrixTally tally;
    for (std::uint32_t cut = 1; cut <= resumedTransfers; cut += kCutStride)
        tally.Add(UpdateWithPowerCuts(GetParam(), {firstCut, cut}));
    const std::string summary = tally.Summary(std::string(KindName(GetParam())) + ", second cut", resumedTransfers);
    std::cout << summary << "\n";
    EXPECT_TRUE(tally.failures.empty()) << summary << "\n" << tally.FirstFailures();
}

}  // namespace
