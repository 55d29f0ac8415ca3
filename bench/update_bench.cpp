// Virtual time of one whole update of a 64 MiB package, per kind of emulated
// monitor, with the emulator's default transfer time (1 ms per transfer and
// 0.1 ms per 64-byte packet) and its default restart, checksum and completion
// times. The emulator's component areas are scaled so that the five
// components total about 64 MiB.
//
// Everything runs on a VirtualClock, so nothing is slept; the real time is the
// host's CPU for the engine, the layers, the package library and the emulator
// in-process. Every wait goes through the clock's SleepMs, the emulator's
// transfer time included, so the time is split with the monitor's own account:
// - transfer: the time the monitor's transfers took (Monitor::TransferTimeMs);
// - waits:    the rest of the recorded waits, the ones the engine and the
//             layers prescribe (restarts, checksum and completion polls, ...);
// - total:    the clock's advance over the whole update.
// One iteration per kind: each moves 64 MiB through the emulator.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "common/temp_dir_testing.h"
#include "common/clock.h"
#include "hid/hid_platform.h"
#include "monitor/discovery.h"
#include "monitor/firmware_version.h"
#include "monitor/model_platform_testing.h"
#include "monitor/setting_b8.h"
#include "monitor/settings.h"
#include "package/container.h"
#include "package/content.h"
#include "package/pkg.h"
#include "package/version_text.h"
#include "emulator/firmware_image.h"
#include "emulator/monitor.h"
#include "emulator/transfer_log.h"
#include "update/combined_packet_update.h"
#include "update/older_monitor_update.h"
#include "update/update_context.h"
#include "update/update_status.h"

namespace {

constexpr std::uint32_t kAllFamilies = 0xFFFFFFFF;
constexpr VersionFields kBefore{102, 201, 3, 4, 5};
constexpr VersionFields kAfter{103, 202, 4, 5, 26};
// componentType of each area, in ComponentAreas() order (PRG000, PRG001, AIC653, INP027, AIC904).
constexpr std::array<std::uint16_t, 5> kAreaTypes{2, 3, 1, 4, 5};
// The monitor verifies types 3 and 5 by reading them back, the others by checksum.
constexpr std::array<std::uint16_t, 2> kReadBackTypes{3, 5};

// 10 KiB of areas at scale 1; 6554 times that is just over 64 MiB, and
// PRG000's 8 blocks become 52432, within 16 bits.
constexpr std::uint32_t kAreaScale = 6554;

std::string MemoryText(const VersionFields& fields) { return VersionToInternal(FormatVersionText(fields)); }

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct UpdateFigures {
    const char* kind = "";
    std::uint64_t packageBytes = 0;
    std::uint64_t totalMs = 0;
    std::uint64_t waitsMs = 0;     // prescribed by the engine and the layers
    std::uint64_t transferMs = 0;  // the monitor's transfers
    std::uint64_t transfers = 0;
    double cpuSeconds = 0;
    Status status = 0;
};

std::vector<UpdateFigures>& Results() {
    static std::vector<UpdateFigures> results;
    return results;
}

// Counts the monitor's transfers without keeping them.
class CountingLog final : public TransferLog {
public:
    void Record(const TransferRecord&) override { ++count; }
    std::uint64_t count = 0;
};


// A package of the monitor's five areas, each image filling its area and
// carrying kAfter's field, plus a list of indexed settings (type 6).
PackageHandle MakePackage(const Monitor& monitor, const std::string& path, std::uint64_t* bytes) {
    FirmwareSet set;
    set.key = MemoryText(kBefore);
    *bytes = 0;
    for (std::size_t i = 0; i < kAreaTypes.size(); ++i) {
        const ComponentArea& area = monitor.Area(i);
        const std::uint16_t type = kAreaTypes[i];
        const auto image = MakeImage(area, kAfter[area.versionField], area.Capacity(), type);
        *bytes += image.size();
        FirmwareComponent c;
        c.type = type;
        c.writeSeconds = 1;
        c.attribute = std::find(kReadBackTypes.begin(), kReadBackTypes.end(), type) != kReadBackTypes.end() ? 1 : 0;
        c.data = SharedSlice::CopyOf(image);
        set.components.emplace(type, c);
    }
    FirmwareComponent list;
    list.type = 6;
    list.data = SharedSlice::CopyOf(std::vector<std::uint8_t>{5, 0, 9, 0});
    set.components.emplace(6, list);

    FirmwarePackage package;
    const std::string model = "QX27*";
    std::copy(model.begin(), model.end(), package.modelName.begin());
    package.version = MemoryText(kAfter);
    package.sets.emplace(set.key, set);
    const auto payload = SerializePackage(package);
    PackageHandle handle = kNoPackageHandle;
    if (!payload || WriteContainer(path, payload->data(), payload->size()) != 0 ||
        PkgLoadFile(path.c_str(), &handle) != 0) {
        return kNoPackageHandle;
    }
    return handle;
}

// The record the application makes before an update, at stage 100.
PackageHandle MakeRecord(MonitorHandle monitor, const std::string& path) {
    BackupInfo info;
    info.stage = kStageNew;
    std::copy_n("QX2701", 6, info.modelName.begin());
    std::copy_n("SN000001", 8, info.serialNumber.begin());
    std::array<char, kVersionTextBytes> current{};
    std::int32_t b8 = 0;
    std::uint16_t s54 = 0, s68 = 0;
    if (MonGetFirmwareVersion(monitor, current) != 0 || MonGetSettingB8(monitor, &b8) != 0 ||
        MonGetSetting54(monitor, &s54) != 0 || MonGetSetting68(monitor, &s68) != 0) {
        return kNoPackageHandle;
    }
    std::copy(current.begin(), current.end(), info.currentVersion.begin());
    info.savedSettingB8 = static_cast<std::uint32_t>(b8);
    info.savedSetting54 = s54;
    info.savedSetting68 = s68;
    PackageHandle record = kNoPackageHandle;
    if (PkgCreateBackupRecord(&info, &record) != 0 || PkgSaveFile(record, path.c_str()) != 0) return kNoPackageHandle;
    return record;
}

UpdateFigures RunOneUpdate(MonitorKind kind, const char* name) {
    UpdateFigures figures;
    figures.kind = name;
    TempDir dir;
    VirtualClock clock{1'000'000};
    ScopedClock useClock{clock};
    ModelPlatform platform;
    ScopedHidPlatform usePlatform{platform};
    MonCloseDevices(kAllFamilies);
    PkgCloseAll();

    MonitorConfig config;
    config.kind = kind;
    config.serial = "SN000001";
    config.model = "QX2701";
    config.firmware = kBefore;
    config.areaScale = kAreaScale;
    Monitor& monitor = platform.Add(config);
    CountingLog transfers;
    monitor.SetLog(&transfers);

    MonOpenDevices(kFamilyNormal);
    MonitorHandle handle = kNoMonitor;
    figures.status = MonGetDevice(kFamilyNormal, 0, &handle);
    const PackageHandle package = MakePackage(monitor, dir.File("update.vfw"), &figures.packageBytes);
    UpdateContext update;
    update.backupPath = dir.File(".backup");
    const PackageHandle record = figures.status == 0 ? MakeRecord(handle, update.backupPath) : kNoPackageHandle;
    if (figures.status == 0 && (package == kNoPackageHandle || record == kNoPackageHandle)) figures.status = kUpdBadArgument;

    if (figures.status == 0) {
        clock.ClearWaits();
        const std::uint64_t startMs = clock.NowMs(), startTransferMs = monitor.TransferTimeMs();
        const std::uint64_t startTransfers = transfers.count;
        const double startCpu = CpuSeconds();
        figures.status = kind == MonitorKind::CombinedTunnel
                             ? RunCombinedPacketUpdate(update, handle, package, record)
                             : RunOlderMonitorUpdate(update, handle, package, record);
        figures.cpuSeconds = CpuSeconds() - startCpu;
        figures.totalMs = clock.NowMs() - startMs;
        figures.transferMs = monitor.TransferTimeMs() - startTransferMs;
        figures.transfers = transfers.count - startTransfers;
        const auto waits = clock.Waits();
        const std::uint64_t slept = std::accumulate(waits.begin(), waits.end(), std::uint64_t{0});
        figures.waitsMs = slept - figures.transferMs;
    }
    MonCloseDevices(kAllFamilies);
    PkgCloseAll();
    monitor.SetLog(nullptr);
    return figures;
}

void BM_WholeUpdate(benchmark::State& state, MonitorKind kind, const char* name) {
    UpdateFigures figures;
    for (auto _ : state) figures = RunOneUpdate(kind, name);
    if (figures.status != 0) {
        char message[48];
        std::snprintf(message, sizeof message, "the update failed: 0x%08X", static_cast<unsigned>(figures.status));
        state.SkipWithError(message);
        return;
    }
    state.counters["package_MiB"] = static_cast<double>(figures.packageBytes) / (1 << 20);
    state.counters["virtual_total_s"] = static_cast<double>(figures.totalMs) / 1000;
    state.counters["virtual_waits_s"] = static_cast<double>(figures.waitsMs) / 1000;
    state.counters["virtual_transfer_s"] = static_cast<double>(figures.transferMs) / 1000;
    state.counters["transfers"] = static_cast<double>(figures.transfers);
    state.counters["host_cpu_s"] = figures.cpuSeconds;
    Results().push_back(figures);
}

BENCHMARK_CAPTURE(BM_WholeUpdate, OlderNative, MonitorKind::OlderNative, "older-native")
    ->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_WholeUpdate, OlderTunnel, MonitorKind::OlderTunnel, "older-tunnel")
    ->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_WholeUpdate, CombinedTunnel, MonitorKind::CombinedTunnel, "combined-tunnel")
    ->Iterations(1)->Unit(benchmark::kSecond);

std::string Hms(std::uint64_t ms) {
    const std::uint64_t s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%03llu", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60),
                  static_cast<unsigned long long>(ms % 1000));
    return text;
}

void PrintTable() {
    std::printf("\nWhole update, virtual time (h:mm:ss.ms), package of five components:\n");
    std::printf("%-16s %7s %14s %14s %14s %10s %10s\n", "kind", "MiB", "total", "waits", "transfer", "transfers",
                "host CPU s");
    for (const UpdateFigures& f : Results()) {
        std::printf("%-16s %7.2f %14s %14s %14s %10llu %10.2f\n", f.kind, static_cast<double>(f.packageBytes) / (1 << 20),
                    Hms(f.totalMs).c_str(), Hms(f.waitsMs).c_str(), Hms(f.transferMs).c_str(),
                    static_cast<unsigned long long>(f.transfers), f.cpuSeconds);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintTable();
    return 0;
}
