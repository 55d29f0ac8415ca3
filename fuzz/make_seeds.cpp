// Writes the fuzz targets' seed corpora from the tests' own fixtures:
//   make_seeds OUT_DIR
// makes OUT_DIR/<target>/<name> for every target. The monitor seeds are
// recordings of a real session (the same driver as the target) with each kind
// of emulated monitor, so the fuzzer starts from replies that reach a whole
// component write.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/hostile_monitor.h"
#include "hid/descriptor_testing.h"
#include "hid/hid_platform_testing.h"
#include "monitor/discovery.h"
#include "monitor/model_platform_testing.h"
#include "monitor/transactions.h"
#include "emulator/descriptors.h"
#include "tools/vfwtool/vfwtool_testing.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

fs::path out;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::create_directories(out / target);
    std::ofstream file(out / target / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes With(std::initializer_list<std::uint8_t> head, const Bytes& tail) {
    Bytes bytes(head);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

void PutU16(Bytes& bytes, std::size_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

// --- files: package and vfwtool info ---
void FileSeeds() {
    const std::map<std::string, Bytes> payloads{
        {"single", Payload(SamplePackage({"0000100002000030000400123"}))},
        {"multi", Payload(SamplePackage({"0000100002000030000400123", "0000100002000030000400000"}))},
        {"image", Payload(SampleImage())},
        {"backup", Payload(SampleBackup(false))},
        {"backup-with-set", Payload(SampleBackup(true))},
    };
    for (const auto& [name, payload] : payloads) {
        Put("package", name, With({0}, payload));
        Put("vfwtool_info", name + "-table", With({0}, payload));
        Put("vfwtool_info", name + "-json", With({2}, payload));
    }
    // Whole files, for the container's own checks.
    Put("package", "file-single", With({1}, fuzz_support::ContainerAround(payloads.at("single"))));
    Put("vfwtool_info", "file-image-json", With({3}, fuzz_support::ContainerAround(payloads.at("image"))));
}

// --- descriptors ---
std::map<std::string, Bytes> InterfaceDescriptors() {
    std::map<std::string, Bytes> d{
        {"boot-keyboard", descriptor_fixtures::kBootKeyboard},
        {"mouse-report-ids", descriptor_fixtures::kMouseWithReportIds},
        {"vendor-arrays-ranges", descriptor_fixtures::kVendorArraysAndRanges},
        {"monitor-interface", descriptor_fixtures::kMonitorInterface},
        {"tunnel-interface", TunnelInterfaceDescriptor(64)},
        {"component-monitor", ComponentMonitorDescriptor(true, true)},
    };
    d["emulated-older-native"] = InterfaceDescriptor({MonitorKind::OlderNative});
    d["emulated-older-tunnel"] = InterfaceDescriptor({MonitorKind::OlderTunnel});
    d["emulated-combined"] = InterfaceDescriptor({MonitorKind::CombinedTunnel});
    return d;
}

void DescriptorSeeds() {
    std::map<std::string, Bytes> tunnelled{
        {"tunnelled-monitor", descriptor_fixtures::kTunnelledMonitor},
        {"monitor-descriptor", MonitorDescriptor(128)},
        {"emulated-older-tunnel", TunnelledDescriptor({MonitorKind::OlderTunnel})},
        {"emulated-combined", TunnelledDescriptor({MonitorKind::CombinedTunnel})},
        {"emulated-legacy", TunnelledDescriptor({MonitorKind::CombinedTunnel, true})},
    };
    for (const auto& [name, descriptor] : tunnelled) Put("report_descriptor", name, With({0x02, 0xFF, 0xC4, 0x00}, descriptor));

    for (const auto& [name, descriptor] : InterfaceDescriptors()) {
        Bytes seed;
        PutU16(seed, descriptor.size());
        seed.insert(seed.end(), descriptor.begin(), descriptor.end());
        for (std::uint8_t id = 0; id < 4; ++id) {
            Bytes report = descriptor_fixtures::Noise(24, id);
            report[0] = id;
            seed.push_back(static_cast<std::uint8_t>(report.size()));
            seed.insert(seed.end(), report.begin(), report.end());
        }
        Put("capabilities", name, seed);
    }
}

// --- the monitor: sessions with emulated monitors, recorded ---
struct Recording {
    HidAttributes attributes;
    Bytes descriptor;
    Bytes replies;
};

class RecordingConnection final : public HidConnection {
public:
    RecordingConnection(std::unique_ptr<HidConnection> inner, Recording& rec) : inner_(std::move(inner)), rec_(rec) {}
    HidAttributes Attributes() const override { return inner_->Attributes(); }
    std::span<const std::uint8_t> ReportDescriptor() const override { return inner_->ReportDescriptor(); }
    HidIo GetFeature(std::span<std::uint8_t> report) override {
        const HidIo io = inner_->GetFeature(report);
        rec_.replies.push_back(Control(io));
        if (io == HidIo::Ok) rec_.replies.insert(rec_.replies.end(), report.begin(), report.end());
        return io;
    }
    HidIo SetFeature(std::span<const std::uint8_t> report) override {
        const HidIo io = inner_->SetFeature(report);
        rec_.replies.push_back(Control(io));
        return io;
    }
    HidInput ReadInput(std::span<std::uint8_t>, int) override { return HidInput::Failed; }

private:
    static std::uint8_t Control(HidIo io) { return io == HidIo::Ok ? 0x00 : io == HidIo::Failed ? 0x0E : 0x0F; }

    std::unique_ptr<HidConnection> inner_;
    Recording& rec_;
};

// Presents the one emulated monitor under the hostile platform's path.
class RecordingPlatform final : public HidPlatform {
public:
    RecordingPlatform(ModelPlatform& model, const Monitor& monitor, Recording& rec)
        : model_(model), monitor_(monitor), rec_(rec) {}
    std::optional<std::vector<std::string>> EnumeratePaths() override {
        model_.EnumeratePaths();
        return std::vector<std::string>{hostile_monitor::kPath};
    }
    std::unique_ptr<HidConnection> Open(const std::string&, bool readAccess) override {
        auto inner = model_.Open(model_.PathOf(monitor_), readAccess);
        if (!inner) return nullptr;
        rec_.attributes = inner->Attributes();
        const auto d = inner->ReportDescriptor();
        rec_.descriptor.assign(d.begin(), d.end());
        return std::make_unique<RecordingConnection>(std::move(inner), rec_);
    }
    std::unique_ptr<DeviceEvents> WatchDevices() override { return nullptr; }

private:
    ModelPlatform& model_;
    const Monitor& monitor_;
    Recording& rec_;
};

void MonitorSeed(const std::string& name, MonitorKind kind, bool legacy) {
    VirtualClock clock(1'000'000);
    const ScopedClock useClock(clock);
    ModelPlatform model;
    MonitorConfig config;
    config.kind = kind;
    config.legacySettings = legacy;
    config.transferTime = {0, 0};
    const Monitor& monitor = model.Add(config);
    if (kind != MonitorKind::CombinedTunnel) {
        // An older monitor takes components only in its update state: restart it
        // there with the boot selector 1 before the session is recorded.
        const ScopedHidPlatform direct(model);
        constexpr std::uint32_t kEveryFamily = 0xFFFFFFFF;
        MonOpenDevices(kEveryFamily);
        MonitorHandle handle = kNoMonitor;
        MonGetDevice(kEveryFamily, 0, &handle);
        MonWriteValue(handle, 0xFF02, 0x00FB, 1);
        MonWriteValue(handle, 0xFF02, 0x00F4, 0);
        MonCloseDevices(kEveryFamily);
        clock.Advance(config.restartMs);
    }
    Recording rec;
    RecordingPlatform platform(model, monitor, rec);
    const ScopedHidPlatform usePlatform(platform);
    hostile_monitor::DriveMonitorLayer(hostile_monitor::DriverComponent());

    const std::uint16_t* vendor = std::find(std::begin(hostile_monitor::kVendors), std::end(hostile_monitor::kVendors),
                                            rec.attributes.vendorId);
    Bytes seed{static_cast<std::uint8_t>(vendor - std::begin(hostile_monitor::kVendors))};
    PutU16(seed, rec.attributes.productId);
    PutU16(seed, rec.attributes.versionNumber);
    PutU16(seed, rec.descriptor.size());
    seed.insert(seed.end(), rec.descriptor.begin(), rec.descriptor.end());
    seed.insert(seed.end(), rec.replies.begin(), rec.replies.end());
    Put("monitor", name, seed);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUT_DIR\n");
        return 2;
    }
    out = argv[1];
    FileSeeds();
    DescriptorSeeds();
    MonitorSeed("older-native", MonitorKind::OlderNative, false);
    MonitorSeed("older-tunnel", MonitorKind::OlderTunnel, false);
    MonitorSeed("combined-tunnel", MonitorKind::CombinedTunnel, false);
    MonitorSeed("combined-tunnel-legacy", MonitorKind::CombinedTunnel, true);
    return 0;
}
