// Sleep is held off while an update runs: the inhibitor lock asked of a mocked
// logind on a bus of the test's own, taken once the monitor is changed, held
// through the writing and its restarts, and released as the run ends, before
// any message waits for the user; without logind, one line says so and the
// update goes on.
#include "app/sleep_inhibitor.h"

#include <fstream>
#include <sstream>

#include "app/app_testing.h"
#include "app/system_bus_testing.h"

namespace {

using namespace app_testing;

void ExpectTheLockAskedOnce(const TestSystemBus& bus) {
    const std::vector<InhibitCall> calls = bus.InhibitCalls();
    ASSERT_EQ(calls.size(), 1u) << "the lock was not asked for exactly once";
    EXPECT_EQ(calls[0].what, "sleep:shutdown:idle:handle-lid-switch");
    EXPECT_EQ(calls[0].mode, "block");
    EXPECT_EQ(calls[0].who, "quillon");
    EXPECT_FALSE(calls[0].why.empty());
}

// What the lock was, seen as the run went.
struct LockSeen {
    std::optional<bool> heldBeforeTheUpdate;  // once the package was checked, before Update
    std::vector<bool> heldAtSteps;            // at each step the update entered
    std::vector<bool> heldAtMessages;         // as each message was shown
};

// A run as the user makes it, looking at the lock as it goes; the user closes
// a run the update did not end.
LockSeen RunWatchingTheLock(MainWorkflow& run, ScriptedView& view, const TestSystemBus& bus) {
    LockSeen seen;
    run.SetStepObserver([&](const ProgressSnapshot&) { seen.heldAtSteps.push_back(bus.LockHeldHere()); });
    view.onMessage = [&](const UserMessage&) { seen.heldAtMessages.push_back(bus.LockHeldHere()); };
    run.Start();
    TickWhileWorking(run);
    if (!run.Ended() && view.updateEnabled) {
        seen.heldBeforeTheUpdate = bus.LockHeldHere();
        run.PressUpdate();
        TickWhileWorking(run);
    }
    if (!run.Ended()) {
        EXPECT_TRUE(run.Close());
    }
    return seen;
}

struct RunEnding {
    const char* name;
    MonitorKind kind;
    FaultPlan faults;
    PackageContents package;
    bool confirmWarning;
    std::vector<TextId> messages;
    bool writes;  // the update ran
};
void PrintTo(const RunEnding& c, std::ostream* out) { *out << c.name; }

FaultPlan WrongChecksums() {
    FaultPlan plan;
    plan.wrongCrcs = FaultPlan::kAlways;
    return plan;
}

const RunEnding kRunEndings[] = {
    {"Completed", MonitorKind::OlderNative, {}, {}, true, {text_id::kComplete}, true},
    // Restarted three times, on one lock.
    {"FailedAfterItsRestarts", MonitorKind::CombinedTunnel, WrongChecksums(), {}, true, {text_id::kUpdateFailed}, true},
    // The backup record was made and the settings switched off before the package was refused.
    {"Refused", MonitorKind::OlderNative, {}, WithModel("QY27*"), true, {text_id::kNoFileForMonitor}, false},
    {"EndedByTheUser", MonitorKind::OlderNative, {}, {}, false, {}, false},
};

class SleepDuringTheUpdateTest : public ::testing::TestWithParam<RunEnding> {
protected:
    Bench bench;
    ScriptedView view;
};
INSTANTIATE_TEST_SUITE_P(Endings, SleepDuringTheUpdateTest, ::testing::ValuesIn(kRunEndings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(SleepDuringTheUpdateTest, IsBlockedFromTheMonitorsChangeUntilTheRunEnds) {
    const RunEnding& c = GetParam();
    const TestSystemBus bus(TestSystemBus::Logind::Granting);
    bench.Plug(c.kind).AddFaults(c.faults);
    bench.WritePackage(c.package);
    view.acceptWarning = c.confirmWarning;
    auto run = bench.NewRun(view);

    const LockSeen seen = RunWatchingTheLock(*run, view, bus);

    ASSERT_TRUE(run->Ended());
    EXPECT_EQ(view.MessageIds(), c.messages);
    ExpectTheLockAskedOnce(bus);
    if (seen.heldBeforeTheUpdate) {
        EXPECT_TRUE(*seen.heldBeforeTheUpdate) << "released before the update";
    }
    EXPECT_EQ(!seen.heldAtSteps.empty(), c.writes);
    EXPECT_EQ(seen.heldAtSteps, std::vector<bool>(seen.heldAtSteps.size(), true)) << "released while writing";
    EXPECT_EQ(seen.heldAtMessages, std::vector<bool>(c.messages.size(), false)) << "held while a message waited";
    EXPECT_FALSE(bus.LockHeldHere());
    const std::string log = ReadFile(run->RunLogPath());
    EXPECT_TRUE(Holds(log, "sleep, shutdown, idle and the lid switch are blocked until the update has ended")) << log;
    EXPECT_TRUE(Holds(log, "sleep is allowed again")) << log;
}

// A run that takes up an interrupted update changes the monitor from its start.
TEST(SleepDuringAResumedUpdateTest, IsBlockedUntilItCompletes) {
    Bench bench;
    Monitor& monitor = bench.Plug(MonitorKind::OlderTunnel);
    bench.WritePackage();
    FaultPlan plan;
    plan.unplugAtTransfer = 200;  // the power fails while the components are written
    monitor.AddFaults(plan);
    ScriptedView interrupted;
    RunToEnd(*bench.NewRun(interrupted), interrupted);
    ASSERT_EQ(interrupted.MessageIds(), std::vector<TextId>{text_id::kCommunicationError});
    ASSERT_TRUE(bench.BackupExists());
    bench.clock.Advance(60'000);

    const TestSystemBus bus(TestSystemBus::Logind::Granting);
    ScriptedView view;
    auto run = bench.NewRun(view);
    const LockSeen seen = RunWatchingTheLock(*run, view, bus);

    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    ExpectTheLockAskedOnce(bus);
    EXPECT_EQ(seen.heldBeforeTheUpdate, true);
    ASSERT_FALSE(seen.heldAtSteps.empty());
    EXPECT_EQ(seen.heldAtSteps, std::vector<bool>(seen.heldAtSteps.size(), true));
    EXPECT_EQ(seen.heldAtMessages, std::vector<bool>{false});
    EXPECT_FALSE(bus.LockHeldHere());
}

struct NoLogind {
    const char* name;
    TestSystemBus::Logind logind;
    const char* cause;  // in the line, after what could not be done
};
void PrintTo(const NoLogind& c, std::ostream* out) { *out << c.name; }

const NoLogind kNoLogind[] = {
    {"NoSystemBus", TestSystemBus::Logind::NoBus, "connecting to the system bus (sd_bus_open_system): No such file or directory"},
    {"NoLogindOnTheBus", TestSystemBus::Logind::Missing, "Inhibit: org.freedesktop.DBus.Error.ServiceUnknown: "},
    {"Refused", TestSystemBus::Logind::Refusing,
     "Inhibit: org.freedesktop.DBus.Error.AccessDenied: inhibiting is not allowed here"},
};

class WithoutLogindTest : public ::testing::TestWithParam<NoLogind> {};
INSTANTIATE_TEST_SUITE_P(Causes, WithoutLogindTest, ::testing::ValuesIn(kNoLogind),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(WithoutLogindTest, OneLineSaysSoAndTheUpdateCompletes) {
    const NoLogind& c = GetParam();
    const TestSystemBus bus(c.logind);
    Bench bench;
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    ScriptedView view;
    std::ostringstream failures;
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());

    RunToEnd(run, view);

    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
    const std::string line = "sleep cannot be blocked during this update: " + std::string(c.cause);
    const std::vector<std::string> said = Lines(failures.str());
    ASSERT_EQ(said.size(), 1u) << failures.str();
    EXPECT_TRUE(said[0].starts_with("quillon: " + line)) << said[0];
    EXPECT_TRUE(Holds(ReadFile(run.RunLogPath()), line)) << ReadFile(run.RunLogPath());
}

}  // namespace
