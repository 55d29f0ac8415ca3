// The run's records: loading the backup file, making a new record, the control
// lock of older-protocol monitors, and putting a monitor back as it was.
#include "app/update_run.h"

#include <array>
#include <regex>

#include "app/app_testing.h"
#include "monitor/command_status.h"
#include "monitor/command_usages.h"
#include "monitor/monitor_status.h"
#include "monitor/transactions.h"

namespace {

using namespace app_testing;

class RecordTest : public ::testing::Test {
protected:
    // Plugs a monitor in (with settings unlike the factory's) and makes it the run's target.
    MonitorHandle Target(MonitorConfig config) {
        monitor = &bench.platform.Add(config);
        bench.UseFolders(run);
        run.target.monitorHandle = bench.Open(config.serial);
        return run.target.monitorHandle;
    }
    MonitorHandle Target(MonitorKind kind) { return Target(Config(kind)); }

    static MonitorConfig Config(MonitorKind kind) {
        MonitorConfig config;
        config.kind = kind;
        config.serial = "SN000001";
        config.model = "QX2701";
        config.transferTime = {0, 0};
        return config;
    }

    std::array<std::uint8_t, 2> Lock() {
        std::array<std::uint8_t, 2> lock{};
        EXPECT_EQ(MonReadBlock(run.target.monitorHandle, 0xFF03, 0x0080, lock), 0u);
        return lock;
    }

    // The record as a later start reads it from the file (the library holds
    // one record at a time: the run's own handle is gone afterwards).
    RunBackupRecord Reload() {
        PkgCloseAll();
        UpdateRun later;
        bench.UseFolders(later);
        EXPECT_EQ(LoadBackupFile(later), 0u);
        EXPECT_TRUE(later.backupFound);
        return later.record;
    }

    Bench bench;
    UpdateRun run;
    Monitor* monitor = nullptr;
};

class RecordKindTest : public RecordTest, public ::testing::WithParamInterface<MonitorKind> {};
INSTANTIATE_TEST_SUITE_P(AllKinds, RecordKindTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(RecordKindTest, ANewRecordHoldsTheMonitorAndOnOlderMonitorsTheSettingsItSwitchesOff) {
    const MonitorHandle m = Target(GetParam());
    ASSERT_EQ(MonSetSetting54(m, 2), 0u);
    ASSERT_EQ(MonSetSettingB8(m, 1), 0u);
    const bool older = GetParam() != MonitorKind::CombinedTunnel;

    ASSERT_EQ(MakeBackupRecord(run), 0u);

    EXPECT_EQ(run.record.filePath, bench.BackupPath());
    const RunBackupRecord saved = Reload();
    EXPECT_EQ(saved.identity.model, "QX2701");
    EXPECT_EQ(saved.identity.serial, "SN000001");
    EXPECT_EQ(saved.currentVersion, MemoryText(kBefore));
    EXPECT_EQ(saved.targetVersion, "");
    EXPECT_EQ(saved.stage, kStageNothingWritten);
    EXPECT_EQ(saved.loaderFlag, 0u);
    EXPECT_EQ(saved.savedSetting54, older ? 2 : 0);
    EXPECT_EQ(saved.savedSetting68, older ? 1 : 0);  // the factory's value
    EXPECT_EQ(saved.savedSettingB8, older ? 1u : 0u);
    EXPECT_TRUE(saved.components.empty());

    std::uint16_t s54 = 9, s68 = 9;
    EXPECT_EQ(MonGetSetting54(m, &s54), 0u);
    EXPECT_EQ(MonGetSetting68(m, &s68), 0u);
    EXPECT_EQ(s54, older ? 0 : 2);
    EXPECT_EQ(s68, older ? 0 : 1);
}

TEST_F(RecordTest, ASettingB8OutsideItsValuesIsRecordedAs0) {
    Target(MonitorKind::OlderNative);
    ASSERT_NE(MonWriteValue(run.target.monitorHandle, 0xFF00, 0x00B8, 2), 0u);  // no write gives it
    monitor->HoldSetting({0xFF00, 0x00B8}, {2});
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    EXPECT_EQ(Reload().savedSettingB8, 0u);
}

TEST_F(RecordTest, AMonitorThatStopsAnsweringLeavesNoRecordAndItsSettingsUntouched) {
    // The cut comes at each read in turn: identity, B8, 54, 68, the version.
    for (std::uint32_t cut = 1; cut <= 6; ++cut) {
        SCOPED_TRACE(cut);
        Bench fresh;
        UpdateRun attempt;
        fresh.UseFolders(attempt);
        Monitor& m = fresh.Plug(MonitorKind::OlderNative);
        attempt.target.monitorHandle = fresh.Open();
        FaultPlan plan;
        plan.unplugAtTransfer = cut;
        m.AddFaults(plan);
        EXPECT_NE(MakeBackupRecord(attempt), 0u);
        EXPECT_FALSE(fresh.BackupExists());
        fresh.clock.Advance(60'000);
        EXPECT_EQ(ReadSettings(fresh.Open()), fresh.before);
    }
}

TEST_F(RecordTest, AFileThatCannotBeWrittenLeavesTheSettingsOn) {
    const MonitorHandle m = Target(MonitorKind::OlderNative);
    ASSERT_EQ(MonSetSetting54(m, 2), 0u);
    // A file where a parent of the state folder should be: the folder cannot be made.
    std::ofstream(bench.Folder() + "in-the-way") << "a file";
    run.stateFolders = StateFolders{bench.Folder() + "in-the-way/quillon", {}};
    EXPECT_EQ(MakeBackupRecord(run), kPkgCannotOpen);
    std::uint16_t s54 = 0;
    EXPECT_EQ(MonGetSetting54(m, &s54), 0u);
    EXPECT_EQ(s54, 2);
}

TEST_F(RecordTest, LoadingCopiesTheRecordedMonitorIntoTheTarget) {
    Target(MonitorKind::OlderTunnel);
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    const std::uint32_t flag = 1;
    ASSERT_EQ(PkgSetProperty(run.record.recordHandle, kPropLoaderFlag, &flag, sizeof flag), 0u);
    ASSERT_EQ(PkgSaveFile(run.record.recordHandle, bench.BackupPath().c_str()), 0u);
    PkgCloseAll();

    UpdateRun later;
    bench.UseFolders(later);
    ASSERT_EQ(LoadBackupFile(later), 0u);
    EXPECT_TRUE(later.backupFound);
    EXPECT_EQ(later.target.loaderFlag, 1u);
    EXPECT_EQ(later.target.modelName, "QX2701");
    EXPECT_EQ(later.target.serialNumber, "SN000001");
    EXPECT_EQ(later.target.currentVersion, MemoryText(kBefore));
    EXPECT_EQ(later.target.monitorHandle, kNoMonitor);
    EXPECT_EQ(later.record.filePath, bench.BackupPath());
}

TEST_F(RecordTest, ARecordWithAFirmwareSetListsItsComponents) {
    Target(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    PackageHandle package = kNoPackageHandle;
    ASSERT_EQ(PkgLoadFile(bench.dir.File("update.vfw").c_str(), &package), 0u);
    ASSERT_EQ(PkgAttachSet(package, &run.record.recordHandle), 0u);
    ASSERT_EQ(ReadBackupRecord(run.record), 0u);
    EXPECT_EQ(run.record.targetVersion, MemoryText(kAfter));
    ASSERT_EQ(FirmwareComponents(run.record).size(), 5u);  // componentTypes 1 to 5; the setting list is not shown
    for (const auto& [type, descriptor] : FirmwareComponents(run.record)) {
        EXPECT_GE(type, 1);
        EXPECT_LE(type, 5);
        EXPECT_EQ(descriptor.writeSeconds, 30);
    }
}

TEST_F(RecordTest, LoadingWithoutAFileChangesNothing) {
    bench.UseFolders(run);
    EXPECT_EQ(LoadBackupFile(run), 0u);
    EXPECT_FALSE(run.backupFound);
}

// A damaged file may be the only copy of the settings an update switched off:
// it is kept under a name of its own, never over another kept file.
TEST_F(RecordTest, ADamagedFileIsKeptBesideItselfAndTheRunGoesOnWithoutIt) {
    Target(MonitorKind::OlderNative);
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    std::vector<std::uint8_t> bytes = testing_support::ReadBytes(bench.BackupPath());
    bytes[bytes.size() / 2] ^= 0x01;

    std::vector<std::string> kept;
    for (int damaged = 0; damaged < 2; ++damaged) {
        bytes.back() = static_cast<std::uint8_t>(damaged);  // each file its own bytes
        testing_support::WriteBytes(bench.BackupPath(), bytes);
        UpdateRun later;
        bench.UseFolders(later);
        EXPECT_EQ(LoadBackupFile(later), 0u);
        EXPECT_FALSE(later.backupFound);
        EXPECT_FALSE(bench.BackupExists());
        EXPECT_EQ(later.target.modelName, "");
        ASSERT_FALSE(later.keptBackupPath.empty());
        EXPECT_TRUE(std::regex_match(later.keptBackupPath,
                                     std::regex(".*/\\.backup\\.damaged-[0-9]{8}-[0-9]{6}(-[0-9]+)?")))
            << later.keptBackupPath;
        EXPECT_EQ(testing_support::ReadBytes(later.keptBackupPath), bytes);
        kept.push_back(later.keptBackupPath);
    }
    EXPECT_NE(kept[0], kept[1]);
    bytes.back() = 0;
    EXPECT_EQ(testing_support::ReadBytes(kept[0]), bytes) << "the first kept file was replaced";
}

TEST_F(RecordTest, AFileThatIsNoRecordIsReportedAndKept) {
    std::filesystem::create_directory(bench.StateFolder());
    WritePackageFile(bench.BackupPath(), Bench::PackageContents{});
    bench.UseFolders(run);
    const Status status = LoadBackupFile(run);
    EXPECT_TRUE(IsFailure(status));
    EXPECT_NE(status, kPkgBadChecksum);
    EXPECT_TRUE(bench.BackupExists());
}

TEST_P(RecordKindTest, TheControlLockIsTakenOnOlderMonitorsOnly) {
    Target(GetParam());
    EXPECT_EQ(PrepareMonitor(run.target), 0u);
    const bool older = GetParam() != MonitorKind::CombinedTunnel;
    EXPECT_EQ(Lock()[0], older ? 5 : 0);  // the emulator offers lock mode 5
    EXPECT_EQ(Lock()[1], older ? 60 : 0);

    EXPECT_EQ(ReleaseControlLock(run.target.monitorHandle), 0u);
    EXPECT_EQ(Lock(), (std::array<std::uint8_t, 2>{0, 0}));
}

TEST_F(RecordTest, ACalibratingMonitorRefusesTheLock) {
    MonitorConfig config = Config(MonitorKind::OlderNative);
    config.faults.calibratingReads = FaultPlan::kAlways;
    Target(config);
    EXPECT_EQ(PrepareMonitor(run.target), kMonLockRefused);
}

TEST_F(RecordTest, ABusyFlagIsClearedBeforeTheLockIsTaken) {
    MonitorConfig config = Config(MonitorKind::OlderNative);
    Target(config);
    ASSERT_EQ(MonWriteValue(run.target.monitorHandle, 0xFF03, 0x0004, 1), 0u);
    EXPECT_EQ(PrepareMonitor(run.target), 0u);
    std::int32_t busy = -1;
    ASSERT_EQ(MonReadValue(run.target.monitorHandle, 0xFF03, 0x0004, busy), 0u);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(Lock()[0], 5);
}

TEST_F(RecordTest, AnOlderMonitorWithoutTheLockKeepsItsSettingsButGetsNoLock) {
    MonitorConfig config = Config(MonitorKind::OlderNative);
    config.controlLock = false;
    const MonitorHandle m = Target(config);
    ASSERT_EQ(MonSetSetting54(m, 2), 0u);
    RecordingLog log;
    monitor->SetLog(&log);

    EXPECT_EQ(PrepareMonitor(run.target), 0u);
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    EXPECT_EQ(Reload().savedSetting54, 2);
    RestoreMonitorSettings(run);
    monitor->SetLog(nullptr);

    EXPECT_EQ(ReleaseControlLock(m), kMonUnavailable);
    std::uint16_t s54 = 0;
    EXPECT_EQ(MonGetSetting54(m, &s54), 0u);
    EXPECT_EQ(s54, 2);
    EXPECT_FALSE(bench.BackupExists());
    for (const TransferRecord& r : log.records) EXPECT_NE(r.report.usage, 0x0080) << "the lock was touched";
}

TEST_P(RecordKindTest, ACleanExitPutsTheSettingsBackReleasesTheLockAndDeletesTheFile) {
    const MonitorHandle m = Target(GetParam());
    ASSERT_EQ(MonSetSetting54(m, 2), 0u);
    ASSERT_EQ(PrepareMonitor(run.target), 0u);
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    ASSERT_TRUE(bench.BackupExists());
    ASSERT_EQ(MonSetSettingB8(m, 0), 0u);  // as an update's restart leaves it

    RestoreMonitorSettings(run);

    EXPECT_FALSE(bench.BackupExists());
    std::uint16_t s54 = 0, s68 = 0;
    std::int32_t b8 = -1;
    EXPECT_EQ(MonGetSetting54(m, &s54), 0u);
    EXPECT_EQ(MonGetSetting68(m, &s68), 0u);
    EXPECT_EQ(MonGetSettingB8(m, &b8), 0u);
    EXPECT_EQ(s54, 2);
    EXPECT_EQ(s68, 1);
    // A newer monitor's settings are not the run's to put back.
    EXPECT_EQ(b8, GetParam() == MonitorKind::CombinedTunnel ? 0 : 1);
    EXPECT_EQ(Lock(), (std::array<std::uint8_t, 2>{0, 0}));
}

TEST_F(RecordTest, AFailedSetting54WriteKeepsTheFileAndTheLock) {
    Target(MonitorKind::OlderNative);
    ASSERT_EQ(PrepareMonitor(run.target), 0u);
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    RecordingLog log;
    monitor->SetLog(&log);
    FaultPlan plan;
    plan.unplugAtTransfer = 1;  // the setting-54 write
    monitor->AddFaults(plan);

    RestoreMonitorSettings(run);
    monitor->SetLog(nullptr);

    EXPECT_TRUE(bench.BackupExists());
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].report.usage, 0x0054);
    // The next start puts the settings back from the file.
    bench.clock.Advance(60'000);
    PkgCloseAll();
    UpdateRun later;
    bench.UseFolders(later);
    ASSERT_EQ(LoadBackupFile(later), 0u);
    later.target.monitorHandle = bench.Open();
    EXPECT_EQ(later.record.savedSetting68, 1);
    RestoreMonitorSettings(later);
    EXPECT_FALSE(bench.BackupExists());
}

TEST_F(RecordTest, NothingIsPutBackOnceTheUpdateHasWritten) {
    Target(MonitorKind::OlderNative);
    ASSERT_EQ(MakeBackupRecord(run), 0u);
    run.record.stage = 300;
    RestoreMonitorSettings(run);
    EXPECT_TRUE(bench.BackupExists());

    run.record.stage = kStageNothingWritten;
    run.target.monitorHandle = kNoMonitor;
    RestoreMonitorSettings(run);
    EXPECT_TRUE(bench.BackupExists());
}

TEST_F(RecordTest, ReleasingALockThatCannotBeWrittenFails) {
    Target(MonitorKind::OlderNative);
    FaultPlan plan;
    plan.unplugAtTransfer = 1;
    monitor->AddFaults(plan);
    EXPECT_EQ(ReleaseControlLock(run.target.monitorHandle), kMonTransferFailed);
}

}  // namespace
