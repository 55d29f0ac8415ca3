// The worker threads: when a thread counts as ended, the file thread's
// decisions about the package, and the activity indicator.
#include "app/worker_threads.h"

#include "app/app_testing.h"

namespace {

using namespace app_testing;

TEST(ModelPattern, StarFirstAcceptsAllNoStarOnlyTheNameElseThePrefix) {
    struct Case {
        const char* pattern;
        const char* model;
        bool matches;
    };
    const Case cases[] = {
        {"*", "QX2701", true},         {"*", "", true},
        {"*X27", "QA1", true},          // everything after a leading star is ignored
        {"QX2701", "QX2701", true},    {"QX2701", "QX2702", false},
        {"QX2701", "QX270", false},    {"QX270", "QX2701", false},
        {"QX27*", "QX2701", true},     {"QX27*", "QX27", true},
        {"QX27*", "QX2", false},       {"QX27*", "QY2701", false},
        {"QX27*01", "QX2799", true},   // only the characters before the first star count
        {"", "", true},                {"", "QX2701", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ModelMatchesPattern(c.pattern, c.model), c.matches) << c.pattern << " / " << c.model;
}

TEST(ExpectedVersion, WildcardFieldsComeFromTheMonitor) {
    const std::string current = "0001100045000060001200034";
    EXPECT_EQ(ExpectedVersion("0001200000000070000000000", current), "0001200045000070001200034");
    EXPECT_EQ(ExpectedVersion("0000000000000000000000000", current), current);
    EXPECT_EQ(ExpectedVersion("0009900099000990009900099", current), "0009900099000990009900099");
    // A short package version: the missing fields stay missing, so it is not taken as applied.
    EXPECT_NE(ExpectedVersion("00000", current), current);
}

// --- The file thread ---

class FilePhaseTest : public ::testing::Test {
protected:
    FilePhaseTest() {
        PkgCloseAll();
        run.target.modelName = "QX2701";
        run.target.currentVersion = MemoryText(kBefore);
    }
    ~FilePhaseTest() override { PkgCloseAll(); }

    Status Load(const Bench::PackageContents& contents) {
        bench.WritePackage(contents);
        return RunFilePhase(run, bench.dir.File("update.vfw"));
    }

    Bench bench;
    UpdateRun run;
};

TEST_F(FilePhaseTest, AFittingOneSetPackageIsSelected) {
    ASSERT_EQ(Load({}), 0u);
    ASSERT_NE(run.selectedPackage, kNoPackageHandle);
    std::uint16_t kind = 0;
    ASSERT_EQ(PkgGetProperty(run.selectedPackage, kPropKind, &kind, sizeof kind), 0u);
    EXPECT_EQ(kind, 16);
}

TEST_F(FilePhaseTest, TheModelPatternDecides) {
    for (const char* pattern : {"*", "QX27*", "QX2701"}) {
        Bench::PackageContents contents;
        contents.model = pattern;
        EXPECT_EQ(Load(contents), 0u) << pattern;
    }
    run.selectedPackage = kNoPackageHandle;
    for (const char* pattern : {"QX28*", "QX270", "QX27011"}) {
        Bench::PackageContents contents;
        contents.model = pattern;
        EXPECT_EQ(Load(contents), kPkgModelMismatch) << pattern;
        EXPECT_EQ(run.selectedPackage, kNoPackageHandle);
    }
}

TEST_F(FilePhaseTest, APackageThatChangesNothingHasBeenApplied) {
    Bench::PackageContents allWildcards;
    allWildcards.version = "0000000000000000000000000";
    EXPECT_EQ(Load(allWildcards), kAppAlreadyApplied);

    // Its own fields equal the monitor's, even though its set would fit.
    Bench::PackageContents sameFields;
    sameFields.version = "00102" "00000" "00003" "00000" "00005";
    EXPECT_EQ(Load(sameFields), kAppAlreadyApplied);
    EXPECT_EQ(run.selectedPackage, kNoPackageHandle);
}

TEST_F(FilePhaseTest, AShortMonitorVersionEndsThePhase) {
    run.target.currentVersion = "00102002010000300004";
    EXPECT_EQ(Load({}), kAppFailed);
}

TEST_F(FilePhaseTest, NoSetForTheMonitorsVersion) {
    Bench::PackageContents otherFrom;
    otherFrom.from = {101, 201, 3, 4, 5};
    EXPECT_EQ(Load(otherFrom), kPkgNoMatchingSet);
}

TEST_F(FilePhaseTest, AManySetPackageGivesTheFittingSetAsAOneSetPackage) {
    FirmwarePackage package = testing_support::Package("QX27*", MemoryText(kAfter), {});
    for (const VersionFields from : {VersionFields{101, 201, 3, 4, 5}, kBefore}) {
        FirmwareSet set;
        set.key = MemoryText(from);
        set.components.emplace(2, testing_support::Component(2, {1, 2, 3}, 60));
        package.sets.emplace(set.key, set);
    }
    const std::string path = bench.dir.File("many.vfw");
    testing_support::WritePayload(path, testing_support::PackagePayload(package));
    ASSERT_EQ(RunFilePhase(run, path), 0u);
    std::uint16_t kind = 0;
    ASSERT_EQ(PkgGetProperty(run.selectedPackage, kPropKind, &kind, sizeof kind), 0u);
    EXPECT_EQ(kind, 16);
    std::array<char, 26> key{};
    ASSERT_EQ(PkgGetProperty(run.selectedPackage, kPropKeyOrCurrent, key.data(), key.size()), 0u);
    EXPECT_EQ(std::string(key.data()), MemoryText(kBefore));

    run.target.currentVersion = MemoryText({100, 201, 3, 4, 5});
    EXPECT_EQ(RunFilePhase(run, path), kPkgNoMatchingSet);
}

TEST_F(FilePhaseTest, AnImageIsNoPackage) {
    FirmwareImage image;
    std::copy_n("QX2701", 6, image.modelName.begin());
    image.versionField = "00103";
    image.component = testing_support::Component(2, {1, 2, 3});
    const std::string path = bench.dir.File("image.vfw");
    testing_support::WritePayload(path, *SerializeImage(image));
    EXPECT_EQ(RunFilePhase(run, path), kPkgInvalidHandle);
}

TEST_F(FilePhaseTest, FilesThatCannotBeReadPassTheirStatusOn) {
    EXPECT_EQ(RunFilePhase(run, bench.dir.File("missing.vfw")), kPkgCannotOpen);
    EXPECT_EQ(RunFilePhase(run, ""), kPkgCannotOpen);
    testing_support::WriteBytes(bench.dir.File("broken.vfw"), {1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(RunFilePhase(run, bench.dir.File("broken.vfw")), kPkgBadChecksum);
}

// --- Thread lifecycle ---

TEST(WorkerThread, TheResultIsThereOnceTheThreadHasEnded) {
    Bench bench;
    UpdateRun run;
    run.target.modelName = "QX2701";
    run.target.currentVersion = MemoryText(kBefore);
    bench.WritePackage();
    PackageCheckThread thread(run, bench.dir.File("update.vfw"));
    EXPECT_FALSE(thread.HasEnded());  // waiting to be started
    EXPECT_EQ(run.fileStatus, kAppFailed);
    ASSERT_TRUE(thread.Start());
    thread.WaitUntilEnded();
    EXPECT_TRUE(thread.HasEnded());
    EXPECT_EQ(run.fileStatus, 0u);
    EXPECT_NE(run.selectedPackage, kNoPackageHandle);
    EXPECT_FALSE(thread.Start());  // a thread runs once
    PkgCloseAll();
}

TEST(WorkerThread, AThreadNeverStartedEndsWithoutRunning) {
    UpdateRun run;
    {
        PackageCheckThread thread(run, "never-read.vfw");
    }
    EXPECT_EQ(run.fileStatus, kAppFailed);
}

TEST(WorkerThread, WithoutAThreadTheObjectHasEndedAtOnceWithTheInitialResult) {
    UpdateRun run;
    worker_thread_testing::FailThreadCreation(true);
    PackageCheckThread fileThread(run, "never-read.vfw");
    UpdateThread updateThread;
    worker_thread_testing::FailThreadCreation(false);
    EXPECT_TRUE(fileThread.HasEnded());
    EXPECT_FALSE(fileThread.Start());
    EXPECT_TRUE(updateThread.HasEnded());
    EXPECT_FALSE(updateThread.Start(run));
    EXPECT_EQ(run.fileStatus, kAppFailed);
    EXPECT_EQ(updateThread.Result().status, kAppFailed);
    EXPECT_EQ(updateThread.Result().monitor, kNoMonitor);
}

// --- The update thread ---

class UpdateThreadTest : public ::testing::TestWithParam<MonitorKind> {};
INSTANTIATE_TEST_SUITE_P(AllKinds, UpdateThreadTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(UpdateThreadTest, HandsOverTheStatusAndTheMonitorsPresentHandle) {
    Bench bench;
    bench.Plug(GetParam());
    bench.WritePackage();
    ScriptedView view;
    auto workflow = bench.NewRun(view);
    workflow->Start();
    TickWhileWorking(*workflow);
    ASSERT_TRUE(view.updateEnabled) << "the run is not ready to update";
    UpdateRun& run = workflow->Run();
    const MonitorHandle given = run.target.monitorHandle;

    UpdateThread thread;
    ASSERT_TRUE(thread.Start(run));
    thread.WaitUntilEnded();
    ASSERT_TRUE(thread.HasEnded());
    const UpdateResult& result = thread.Result();
    EXPECT_EQ(result.status, 0u);
    // The update restarted the monitor, which gave it a new handle.
    EXPECT_NE(result.monitor, given);
    EXPECT_EQ(bench.VersionOf(result.monitor), MemoryText(kAfter));
}

}  // namespace
