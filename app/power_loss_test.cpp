// Power lost at any moment of an update. For each kind of monitor, a whole
// update is run once to count its transfers; then, for every transfer, a fresh
// monitor loses its power at exactly that transfer (and, for a set, once more
// just after the set has taken effect, before its answer arrives) and comes
// back as a power-on, and the updater is started again as a user would start
// it, until the update is complete. Every cut must end with what a user would
// check: the package's firmware running, the boot selector 0, the settings and
// indexed settings as they were (the monitor's own state, compared with its
// state before the update), the control lock released by the updater before it
// says the update completed, and no backup file.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "app/app_testing.h"
#include "hid/hid_device.h"

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

// The one seed of the start-up delay and the descriptor transfer's waits:
// QUILLON_TEST_SEED when set, so that a failing run can be repeated.
std::uint32_t TestSeed() {
    static const std::uint32_t seed = [] {
        const char* text = std::getenv("QUILLON_TEST_SEED");
        return text != nullptr ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0)) : 20261210u;
    }();
    return seed;
}

std::string SeedNote() { return "QUILLON_TEST_SEED=" + std::to_string(TestSeed()); }

// One power cut: at a transfer, or just after it has acted.
struct Cut {
    std::uint32_t transfer = 0;  // 0: no cut
    bool afterActing = false;
};

struct CutOutcome {
    std::vector<Cut> cuts;
    std::vector<std::vector<TextId>> messagesPerRun;
    bool firmware = false;
    bool settings = false;
    bool backupGone = false;
    bool allCutsFired = false;
    bool lockReleasedWhenCompleted = true;  // at the completion message: on the bus, lock free
    bool lockFree = false;
    bool deviceState = false;               // the monitor's own state as expected
    bool Recovered() const {
        return firmware && settings && backupGone && allCutsFired && lockReleasedWhenCompleted && lockFree &&
               deviceState;
    }
};

std::string Describe(const CutOutcome& o) {
    std::ostringstream out;
    out << "cuts";
    for (const Cut& c : o.cuts) out << " " << (c.afterActing ? "after " : "at ") << c.transfer;
    out << ": firmware " << o.firmware << ", settings " << o.settings << ", backup gone " << o.backupGone
        << ", cuts fired " << o.allCutsFired << ", lock released before completion " << o.lockReleasedWhenCompleted
        << ", lock free " << o.lockFree << ", device state " << o.deviceState << ", messages per run:";
    for (const auto& run : o.messagesPerRun) {
        out << " [";
        for (TextId id : run) out << " " << id;
        out << " ]";
    }
    return out.str();
}

// What the monitor is to hold after the update: its state before it, with
// the package's components (as Bench::WritePackage makes them) in its areas.
MonitorState ExpectedState(MonitorState before) {
    static constexpr std::array<std::uint16_t, 5> kAreaTypes{2, 3, 1, 4, 5};
    for (std::size_t i = 0; i < kAreaTypes.size(); ++i) {
        const ComponentArea& area = ComponentAreas()[i];
        before.components[i] = MakeImage(area, kAfter[area.versionField], area.Capacity(), kAreaTypes[i]);
    }
    before.mode = MonitorMode::Running;
    before.bootSelector = 0;
    return before;
}

// Runs the updater until a run completes the update (or kMaxRuns). Run i
// loses the monitor's power as cuts[i] says. `log`, when given, receives every
// transfer of every run.
// The monitors of the matrix: each kind, with a serial number that fills its
// field and with one the monitor pads with zero bytes; and the older kinds as
// monitors that cannot tell their identity while they wait in an update.
struct MatrixMonitor {
    MonitorKind kind;
    const char* serial;
    bool identityWhileWaiting = true;
};

CutOutcome UpdateWithPowerCuts(MatrixMonitor m, const std::vector<Cut>& cuts, RecordingLog* log = nullptr,
                               std::vector<std::size_t>* runStarts = nullptr) {
    SeedHidRetryRandom(TestSeed());
    SeedStartupDelay(TestSeed());
    Bench bench;
    MonitorConfig config = Bench::Config(m.kind, m.serial);
    config.identityOutsideFirmware = m.identityWhileWaiting;
    Monitor& monitor = bench.Plug(config);
    const MonitorState expected = ExpectedState(monitor.State());
    bench.WritePackage();
    if (log != nullptr) monitor.SetLog(log);
    CutOutcome outcome;
    outcome.cuts = cuts;
    std::uint32_t planned = 0;
    for (std::size_t i = 0; i < kMaxRuns; ++i) {
        if (i < cuts.size() && cuts[i].transfer != 0) {
            FaultPlan cut;
            (cuts[i].afterActing ? cut.unplugAfterTransfer : cut.unplugAtTransfer) = cuts[i].transfer;
            monitor.AddFaults(cut);
            ++planned;
        }
        if (runStarts != nullptr && log != nullptr) runStarts->push_back(log->records.size());
        ScriptedView view;
        view.onMessage = [&](const UserMessage& message) {
            if (message.text != text_id::kComplete) return;
            // What the user is told must hold now, not only after the monitor's next power-on.
            outcome.lockReleasedWhenCompleted = outcome.lockReleasedWhenCompleted && monitor.PluggedIn() &&
                                                !monitor.LockHeld() && monitor.Mode() == MonitorMode::Running;
        };
        auto run = bench.NewRun(view);
        RunToEnd(*run, view);
        if (!run->Ended()) run->Close();  // a run left waiting for the user is closed by the user
        outcome.messagesPerRun.push_back(view.MessageIds());
        if (view.MessageIds() == std::vector<TextId>{text_id::kComplete}) {
            outcome.lockFree = !monitor.LockHeld();
            break;
        }
        bench.clock.Advance(kPauseBetweenRunsMs);
    }
    monitor.SetLog(nullptr);
    outcome.allCutsFired = !monitor.PowerCutPending() && monitor.PowerLosses() == planned;
    bench.clock.Advance(kPauseBetweenRunsMs);  // a cut at the last transfer leaves the monitor off the bus a while
    const MonitorHandle handle = bench.Open(m.serial);
    outcome.firmware = bench.VersionOf(handle) == MemoryText(kAfter) && monitor.Mode() == MonitorMode::Running &&
                       monitor.State().bootSelector == 0;
    outcome.settings = ReadSettings(handle) == bench.before;
    outcome.backupGone = !bench.BackupExists();
    outcome.deviceState = monitor.State() == expected;
    return outcome;
}

CutOutcome UpdateWithPowerCut(MatrixMonitor m, Cut cut, RecordingLog* log = nullptr) {
    return UpdateWithPowerCuts(m, {cut}, log);
}

// Every cut point of a stretch of transfers: at each transfer, and after each set.
std::vector<Cut> CutPoints(const std::vector<TransferRecord>& records, std::size_t from) {
    std::vector<Cut> points;
    for (std::size_t i = from; i < records.size(); i += kCutStride) {
        const auto transfer = static_cast<std::uint32_t>(i - from + 1);
        points.push_back({transfer, false});
        if (records[i].isSet) points.push_back({transfer, true});
    }
    return points;
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

std::string Name(MatrixMonitor m) {
    return std::string(KindName(m.kind)) + (std::string_view(m.serial).size() < 8 ? ", short serial" : "") +
           (m.identityWhileWaiting ? "" : ", no identity while waiting");
}

class PowerLossTest : public ::testing::TestWithParam<MatrixMonitor> {};
INSTANTIATE_TEST_SUITE_P(AllKinds, PowerLossTest,
                         ::testing::ValuesIn(std::vector<MatrixMonitor>{
                             {MonitorKind::OlderNative, "SN000001"}, {MonitorKind::OlderTunnel, "SN000001"},
                             {MonitorKind::CombinedTunnel, "SN000001"}, {MonitorKind::OlderNative, "SN12"},
                             {MonitorKind::OlderTunnel, "SN12"}, {MonitorKind::CombinedTunnel, "SN12"},
                             {MonitorKind::OlderNative, "SN000001", false},
                             {MonitorKind::OlderTunnel, "SN000001", false}}),
                         [](const auto& info) {
                             std::string name = Name(info.param);
                             std::erase(name, ',');
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

TEST_P(PowerLossTest, EveryCutEndsWithTheUpdateCompleteOnALaterRun) {
    SCOPED_TRACE(SeedNote());
    RecordingLog log;
    const CutOutcome clean = UpdateWithPowerCut(GetParam(), {}, &log);
    ASSERT_TRUE(clean.Recovered()) << Describe(clean);
    const auto transfers = static_cast<std::uint32_t>(log.records.size());
    ASSERT_GT(transfers, 200u);

    MatrixTally tally;
    for (const Cut& cut : CutPoints(log.records, 0)) tally.Add(UpdateWithPowerCut(GetParam(), cut));
    const std::string summary = tally.Summary(Name(GetParam()), transfers);
    std::cout << summary << "\n";
    EXPECT_TRUE(tally.failures.empty()) << summary << "\n" << tally.FirstFailures();
}

// The power fails while the first component is written, and again at any
// moment of the resumed run: after the resumed run has restarted the monitor
// into its new firmware, the backup file expects a monitor waiting in an
// update, and the monitor runs instead.
TEST_P(PowerLossTest, ASecondCutInTheResumedRunRecoversToo) {
    SCOPED_TRACE(SeedNote());
    RecordingLog clean;
    ASSERT_TRUE(UpdateWithPowerCut(GetParam(), {}, &clean).Recovered());
    const auto first = std::find_if(clean.records.begin(), clean.records.end(), IsComponentPacket);
    ASSERT_NE(first, clean.records.end());
    const Cut firstCut{static_cast<std::uint32_t>(first - clean.records.begin()) + 1, false};

    RecordingLog log;
    std::vector<std::size_t> runStarts;
    const CutOutcome once = UpdateWithPowerCuts(GetParam(), {firstCut}, &log, &runStarts);
    ASSERT_TRUE(once.Recovered()) << Describe(once);
    ASSERT_EQ(runStarts.size(), 2u);
    const auto resumedTransfers = static_cast<std::uint32_t>(log.records.size() - runStarts[1]);

    MatrixTally tally;
    for (const Cut& cut : CutPoints(log.records, runStarts[1])) tally.Add(UpdateWithPowerCuts(GetParam(), {firstCut, cut}));
    const std::string summary = tally.Summary(Name(GetParam()) + ", second cut", resumedTransfers);
    std::cout << summary << "\n";
    EXPECT_TRUE(tally.failures.empty()) << summary << "\n" << tally.FirstFailures();
}

}  // namespace
