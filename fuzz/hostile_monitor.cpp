#include "fuzz/hostile_monitor.h"

#include <algorithm>
#include <array>

#include "fuzz/fuzz_support.h"
#include "monitor/component_transfer.h"
#include "monitor/discovery.h"
#include "monitor/firmware_version.h"
#include "monitor/transactions.h"
#include "emulator/firmware_image.h"

namespace hostile_monitor {

namespace {

class Connection final : public HidConnection {
public:
    explicit Connection(Script& script) : script_(script) {}
    HidAttributes Attributes() const override { return script_.attributes; }
    std::span<const std::uint8_t> ReportDescriptor() const override { return script_.descriptor; }
    HidIo GetFeature(std::span<std::uint8_t> report) override {
        const HidIo outcome = Control();
        if (outcome != HidIo::Ok) return outcome;
        const std::size_t n = std::min(script_.replies.size() - script_.used, report.size());
        std::copy_n(script_.replies.begin() + static_cast<std::ptrdiff_t>(script_.used), n, report.begin());
        script_.used += n;
        return HidIo::Ok;
    }
    HidIo SetFeature(std::span<const std::uint8_t>) override { return Control(); }
    HidInput ReadInput(std::span<std::uint8_t>, int) override { return HidInput::Failed; }

private:
    HidIo Control() {
        if (script_.used >= script_.replies.size()) return HidIo::Failed;
        return Outcome(script_.replies[script_.used++]);
    }

    Script& script_;
};

constexpr std::uint32_t kAllFamilies = 0xFFFFFFFF;

}  // namespace

HidIo Outcome(std::uint8_t control) {
    switch (control & 0x0F) {
        case 0x0E: return HidIo::Failed;
        case 0x0F: return HidIo::NotConnected;
        default: return HidIo::Ok;
    }
}

Script ParseScript(std::span<const std::uint8_t> input) {
    fuzz_support::Reader in(input);
    Script script;
    script.attributes.vendorId = kVendors[in.U8() % std::size(kVendors)];
    script.attributes.productId = in.U16();
    script.attributes.versionNumber = in.U16();
    const std::span<const std::uint8_t> descriptor = in.Take(in.U16());
    script.descriptor.assign(descriptor.begin(), descriptor.end());
    script.replies = in.Rest();
    return script;
}

std::unique_ptr<HidConnection> Platform::Open(const std::string& path, bool) {
    if (path != kPath) return nullptr;
    return std::make_unique<Connection>(script_);
}

std::vector<std::uint8_t> DriverComponent() {
    const ComponentArea& area = ComponentAreas()[*FindComponentArea("AIC653")];
    return MakeImage(area, 7, area.Capacity(), 1);
}

bool DriveMonitorLayer(std::span<const std::uint8_t> component) {
    bool written = false;
    MonOpenDevices(kAllFamilies);
    MonitorHandle handle = kNoMonitor;
    if (MonGetDevice(kAllFamilies, 0, &handle) == kStatusSuccess) {
        std::array<char, 18> model{};
        std::array<char, 10> serial{};
        MonGetModelName(handle, model);
        MonGetSerialNumber(handle, serial);
        std::array<char, kVersionTextBytes> version{};
        MonGetFirmwareVersion(handle, version);
        MonWriteValue(handle, 0xFF02, 0x00FB, 1);  // the boot selector, as an update sets it before writing
        written = MonWriteAic653Component(handle, component.data(), static_cast<std::uint32_t>(component.size())) ==
                  kStatusSuccess;
        MonRefreshDevices();
    }
    MonCloseDevices(kAllFamilies);
    return written;
}

}  // namespace hostile_monitor
