#pragma once
// What the update tests share: an emulated monitor served in-process on the
// virtual clock, a package made for it by the package library, a backup record
// in any stage, a temporary backup file, and a reading of the monitor's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "monitor/command_usages.h"
#include "monitor/component_transfer.h"
#include "monitor/discovery.h"
#include "monitor/firmware_version.h"
#include "monitor/layer_fixture_testing.h"
#include "monitor/setting_b8.h"
#include "monitor/settings.h"
#include "monitor/transactions.h"
#include "package/package_testing.h"
#include "package/pkg.h"
#include "package/version_text.h"
#include "emulator/firmware_image.h"
#include "update/component_writing.h"
#include "update/monitor_steps.h"
#include "update/update_context.h"

namespace update_testing {

// The emulated monitor's firmware before, and the package's after.
inline constexpr VersionFields kBefore{102, 201, 3, 4, 5};
inline constexpr VersionFields kAfter{103, 202, 4, 5, 26};  // field 5 reads "0001a" in memory form

inline std::string MemoryText(const VersionFields& fields) { return VersionToInternal(FormatVersionText(fields)); }

// componentType of each emulator area (ComponentAreas() order: PRG000, PRG001, AIC653, INP027, AIC904).
inline constexpr std::array<std::uint16_t, 5> kAreaTypes{2, 3, 1, 4, 5};
// Long enough for an emulated monitor's restart.
inline constexpr std::uint32_t kRestartWaitMs = 15'000;

// The settings an update must leave as it found them.
struct Settings {
    std::int32_t b8 = -1, s45 = -1, s53 = -1;
    std::uint16_t s54 = 0, s68 = 0, s40 = 0;
    std::uint8_t s22 = 0, s30 = 0;
    bool operator==(const Settings&) const = default;
};

// Setting B8, which some older monitors lack.
inline constexpr MonUsage kSettingB8{0xFF00, 0x00B8};

inline Settings ReadSettings(MonitorHandle m) {
    Settings s;
    std::uint32_t absent = 1;
    EXPECT_EQ(MonIsUnsupported(m, kSettingB8.page, kSettingB8.usage, &absent), 0u);
    // A monitor without setting B8 keeps b8 at -1.
    if (absent == 0) {
        EXPECT_EQ(MonGetSettingB8(m, &s.b8), 0u);
    }
    EXPECT_EQ(MonGetSetting45(m, &s.s45), 0u);
    EXPECT_EQ(MonGetSetting53(m, &s.s53), 0u);
    EXPECT_EQ(MonGetSetting54(m, &s.s54), 0u);
    EXPECT_EQ(MonGetSetting68(m, &s.s68), 0u);
    EXPECT_EQ(MonGetSetting22(m, &s.s22), 0u);
    EXPECT_EQ(MonGetSetting30(m, &s.s30), 0u);
    EXPECT_EQ(MonGetSetting40(m, &s.s40), 0u);
    return s;
}

// Gives the monitor settings the backup record can hold, some unlike the
// factory's so that putting them back can be seen; returns them as read back.
inline Settings GiveUnusualSettings(MonitorHandle m) {
    EXPECT_EQ(MonSetSetting22(m, 2), 0u);
    EXPECT_EQ(MonSetSetting30(m, 1), 0u);
    EXPECT_EQ(MonSetSetting40(m, 1), 0u);
    EXPECT_EQ(MonSetSetting68(m, 1), 0u);
    EXPECT_EQ(MonSetSetting45(m, 0), 0u);
    EXPECT_EQ(MonSetSetting54(m, 2), 0u);
    // B8 off on an older monitor: its update switches B8 on, and has to put 0 back.
    if (!HasUsage(m, 0xFF02, 0x00FE) && HasUsage(m, kSettingB8.page, kSettingB8.usage)) {
        EXPECT_EQ(MonSetSettingB8(m, 0), 0u);
    }
    return ReadSettings(m);
}

// One function call seen in the monitor's log, however it travelled.
struct Call {
    bool write = false;
    UsageAddress usage;
    std::uint8_t firstByte = 0;  // of the data
};

inline std::vector<Call> Calls(const std::vector<TransferRecord>& records) {
    std::vector<Call> calls;
    for (const TransferRecord& r : records) {
        if (r.err != 0) continue;
        if (r.report.page != 0xFF30) {  // a native usage
            calls.push_back({r.isSet, r.report, r.bytes.size() > 1 ? r.bytes[1] : std::uint8_t{0}});
            continue;
        }
        // Tunnel: requests are sets on a channel; replies (gets) are not counted again.
        if (!r.isSet || !r.tunnelled) continue;
        const std::uint16_t channel = r.report.usage;
        const bool writeChannel = channel == 0x0002 || channel == 0x0004 || channel == 0x000B || channel == 0x000D;
        const std::size_t data = 1 + (channel >= 0x000B ? 2 : 0) + 6;
        calls.push_back({writeChannel, *r.tunnelled, r.bytes.size() > data ? r.bytes[data] : std::uint8_t{0}});
    }
    return calls;
}

inline bool Is(const Call& c, bool write, MonUsage u) {
    return c.write == write && c.usage.page == u.page && c.usage.usage == u.usage;
}

inline int Count(const std::vector<Call>& calls, bool write, MonUsage u, std::optional<std::uint8_t> value = {}) {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call& c) {
        return Is(c, write, u) && (!value || c.firstByte == *value);
    }));
}

class UpdateFixture : public LayerTest {
protected:
    UpdateFixture() {
        PkgCloseAll();
        update.backupPath = BackupPath();
    }
    ~UpdateFixture() override { PkgCloseAll(); }

    std::string BackupPath() const { return dir.File(".backup"); }

    // Plugs the monitor in, sets settings the backup record can hold (some unlike
    // the factory's, so that putting them back can be seen), and opens it.
    MonitorHandle Plug(MonitorKind kind, FaultPlan faults = {}, VersionFields firmware = kBefore) {
        MonitorConfig config = QuietConfig(kind);
        config.firmware = firmware;
        key = MemoryText(firmware);
        config.faults = faults;
        monitor = &platform.Add(config);
        monitor->SetLog(&log);
        handle = OpenNormal();
        before = GiveUnusualSettings(handle);
        return handle;
    }

    // Component images for the emulated areas, carrying kAfter's fields; type 6
    // lists indexed settings 5 and 9 and an odd byte.
    struct PackageContents {
        std::vector<std::uint16_t> types{2, 3, 1, 4, 5};
        std::vector<std::uint16_t> readBack{3, 5};
        bool settingList = true;
        VersionFields images = kAfter;
        std::string version = MemoryText(kAfter);
    };

    PackageHandle MakePackage(const PackageContents& contents) {
        FirmwareSet set;
        set.key = key;
        for (std::size_t i = 0; i < kAreaTypes.size(); ++i) {
            const std::uint16_t type = kAreaTypes[i];
            if (std::find(contents.types.begin(), contents.types.end(), type) == contents.types.end()) continue;
            const ComponentArea& area = ComponentAreas()[i];
            const bool readBack = std::find(contents.readBack.begin(), contents.readBack.end(), type) != contents.readBack.end();
            set.components.emplace(type, testing_support::Component(
                                             type, MakeImage(area, contents.images[area.versionField], area.Capacity(), type),
                                             1, readBack ? 1 : 0));
        }
        if (contents.settingList) set.components.emplace(6, testing_support::Component(6, {5, 0, 9, 0, 7}));
        FirmwarePackage package = testing_support::Package("QX27*", contents.version, {});
        package.sets.emplace(set.key, set);
        const std::string path = dir.File("update.vfw");
        testing_support::WritePayload(path, testing_support::PackagePayload(package));
        PackageHandle h = kNoPackageHandle;
        EXPECT_EQ(PkgLoadFile(path.c_str(), &h), 0u);
        return h;
    }
    PackageHandle MakePackage() { return MakePackage(PackageContents{}); }

    // The record the application makes before an update, at stage 100.
    PackageHandle MakeRecord(std::uint32_t loaderFlag = 0) {
        BackupInfo info;
        info.loaderFlag = loaderFlag;
        info.stage = kStageNew;
        std::copy_n("QX2701", 6, info.modelName.begin());
        std::copy_n("SN000001", 8, info.serialNumber.begin());
        std::array<char, kVersionTextBytes> current{};
        EXPECT_EQ(MonGetFirmwareVersion(handle, current), 0u);
        std::copy(current.begin(), current.end(), info.currentVersion.begin());
        info.savedSettingB8 = static_cast<std::uint32_t>(before.b8);
        info.savedSetting54 = before.s54;
        info.savedSetting68 = before.s68;
        PackageHandle record = kNoPackageHandle;
        EXPECT_EQ(PkgCreateBackupRecord(&info, &record), 0u);
        EXPECT_EQ(PkgSaveFile(record, BackupPath().c_str()), 0u);
        return record;
    }

    // A record as an interrupted update left it in `stage`, with the monitor
    // holding the new components when they had been written by then.
    PackageHandle RecordInStage(std::int32_t stage, std::uint32_t loaderFlag, PackageHandle package) {
        PackageHandle record = MakeRecord(loaderFlag);
        if (stage == kStageNew) return record;
        EXPECT_EQ(PkgAttachSet(package, &record), 0u);
        const std::uint32_t saved[] = {static_cast<std::uint32_t>(before.s45), static_cast<std::uint32_t>(before.s53)};
        const std::uint16_t blocks[] = {before.s22, before.s30, before.s40};
        EXPECT_EQ(PkgSetProperty(record, kPropSetting9, &saved[0], 4), 0u);
        EXPECT_EQ(PkgSetProperty(record, kPropSetting10, &saved[1], 4), 0u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(PkgSetProperty(record, kPropSetting11 + i, &blocks[i], 2), 0u);
        EXPECT_EQ(PkgSetProperty(record, kPropStage, &stage, 4), 0u);
        EXPECT_EQ(PkgSaveFile(record, BackupPath().c_str()), 0u);
        if (stage >= kStageWritten) WriteNewFirmware(package);
        // From stage 500 on the monitor runs the new firmware.
        if (stage >= kStageRestarted) {
            handle = MonRestartAndReconnect(handle, {"QX2701", "SN000001"});
            EXPECT_NE(handle, kNoMonitor);
        }
        log.records.clear();
        clock.ClearWaits();
        return record;
    }

    void WriteNewFirmware(PackageHandle package) {
        const MonUsage boot = command_usage::kBootSelector, restart = command_usage::kRestart;
        ASSERT_EQ(MonWriteValue(handle, boot.page, boot.usage, 1), 0u);
        // An older monitor takes components only in its update state, entered by a restart.
        if (!HasUsage(handle, 0xFF02, 0x00FE)) {
            ASSERT_EQ(MonWriteValue(handle, restart.page, restart.usage, 0), 0u);
            SleepMs(kRestartWaitMs);
            handle = MonReopenByIdentity({"QX2701", "SN000001"});
            ASSERT_NE(handle, kNoMonitor);
        }
        for (std::uint16_t type : kComponentWriteOrder) {
            ComponentDescriptor d;
            if (PkgGetProperty(package, kPropComponentType + type, &d, sizeof d) != 0) continue;
            ASSERT_EQ(WriteComponent(handle, type, d), 0u) << type;
        }
        ASSERT_EQ(MonWriteValue(handle, boot.page, boot.usage, 0), 0u);
    }

    // The stage the backup file holds now.
    std::int32_t StageInFile() {
        PkgCloseAll();
        PackageHandle loaded = kNoPackageHandle;
        std::int32_t stage = -1;
        if (PkgLoadFile(BackupPath().c_str(), &loaded) != 0) return -1;
        EXPECT_EQ(PkgGetProperty(loaded, kPropStage, &stage, 4), 0u);
        return stage;
    }

    std::string MonitorVersion(MonitorHandle m) {
        std::array<char, kVersionTextBytes> text{};
        EXPECT_EQ(MonGetFirmwareVersion(m, text), 0u);
        return text.data();
    }

    std::vector<Call> LoggedCalls() const { return Calls(log.records); }

    // The waits of a second or more: shorter ones are the monitor layer's own
    // pauses (the start-up delay of every reopening).
    std::vector<std::uint32_t> LongWaits() {
        std::vector<std::uint32_t> waits = clock.Waits();
        std::erase_if(waits, [](std::uint32_t ms) { return ms < 1000; });
        return waits;
    }

    TempDir dir;
    RecordingLog log;
    Monitor* monitor = nullptr;
    MonitorHandle handle = kNoMonitor;
    Settings before;
    std::string key;  // the monitor's version text, which the package's set serves
    UpdateContext update;  // the update under test, writing its backup file in dir
};

}  // namespace update_testing
