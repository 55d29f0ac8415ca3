#include "monitor/model_platform_testing.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "common/clock.h"

struct ModelPlatform::Slot {
    std::unique_ptr<Monitor> monitor;
    std::uint32_t plugIn = 0;              // number of the present plug-in; 0 while off the bus
    std::string path;
    bool cableIn = true;
    bool accessRefused = false;
    std::optional<std::uint64_t> backAtMs; // off the bus by itself, and coming back then

    // After every transfer: a monitor that has just left the bus drops its plug-in.
    void AfterTransfer() {
        const std::optional<Departure> departure = monitor->TakeDeparture();
        if (!departure) return;
        plugIn = 0;
        path.clear();
        backAtMs.reset();
        if (departure->comesBack) backAtMs = NowMs() + departure->offMs;
    }
};

namespace {

// One open interface of one plug-in; gone for good once that plug-in ended.
class ModelConnection final : public HidConnection {
public:
    ModelConnection(std::shared_ptr<ModelPlatform::Slot> slot, const Monitor& monitor)
        : slot_(std::move(slot)), plugIn_(slot_->plugIn), descriptor_(monitor.Descriptor()) {
        const InterfaceAttributes a = monitor.Attributes();
        attributes_ = {a.vendor, a.product, a.version};
    }

    HidAttributes Attributes() const override { return attributes_; }
    std::span<const std::uint8_t> ReportDescriptor() const override { return descriptor_; }

    HidIo GetFeature(std::span<std::uint8_t> report) override {
        if (report.empty()) return HidIo::Failed;
        if (!Present()) return HidIo::NotConnected;
        const ReportReply reply = slot_->monitor->GetReport(report[0]);
        slot_->AfterTransfer();
        if (reply.err != 0) return Outcome(reply.err);
        std::copy_n(reply.data.begin(), std::min(report.size(), reply.data.size()), report.begin());
        return HidIo::Ok;
    }

    HidIo SetFeature(std::span<const std::uint8_t> report) override {
        if (!Present()) return HidIo::NotConnected;
        const int err = slot_->monitor->SetReport(report);
        slot_->AfterTransfer();
        return err == 0 ? HidIo::Ok : Outcome(err);
    }

    HidInput ReadInput(std::span<std::uint8_t>, int) override { return HidInput::Failed; }  // feature reports only

private:
    bool Present() const { return slot_->plugIn == plugIn_; }
    static HidIo Outcome(int err) { return err == ENODEV ? HidIo::NotConnected : HidIo::Failed; }

    std::shared_ptr<ModelPlatform::Slot> slot_;
    std::uint32_t plugIn_;
    std::vector<std::uint8_t> descriptor_;
    HidAttributes attributes_;
};

}  // namespace

ModelPlatform::ModelPlatform() = default;
ModelPlatform::~ModelPlatform() = default;

Monitor& ModelPlatform::Add(MonitorConfig config) {
    auto slot = std::make_shared<Slot>();
    slot->monitor = std::make_unique<Monitor>(std::move(config));
    PlugIn(*slot);
    slots_.push_back(slot);
    return *slot->monitor;
}

ModelPlatform::Slot* ModelPlatform::Find(const Monitor& monitor) const {
    for (const auto& slot : slots_) {
        if (slot->monitor.get() == &monitor) return slot.get();
    }
    return nullptr;
}

void ModelPlatform::PlugIn(Slot& slot) {
    const InterfaceAttributes a = slot.monitor->Attributes();
    slot.plugIn = ++plugIns_;
    char path[64];
    std::snprintf(path, sizeof path, "emulated:VID_%04X&PID_%04X#%u", a.vendor, a.product, slot.plugIn);
    slot.path = path;
}

void ModelPlatform::Unplug(const Monitor& monitor) {
    Slot* slot = Find(monitor);
    if (slot == nullptr) return;
    slot->cableIn = false;
    slot->plugIn = 0;
    slot->path.clear();
}

void ModelPlatform::Replug(const Monitor& monitor) {
    Slot* slot = Find(monitor);
    if (slot == nullptr || slot->cableIn) return;
    slot->cableIn = true;
    // One that left the bus by itself meanwhile comes back on its own time.
    if (slot->monitor->PluggedIn()) PlugIn(*slot);
}

void ModelPlatform::RefuseAccess(const Monitor& monitor) {
    if (Slot* slot = Find(monitor)) slot->accessRefused = true;
}

std::string ModelPlatform::PathOf(const Monitor& monitor) const {
    const Slot* slot = Find(monitor);
    return slot != nullptr ? slot->path : std::string();
}

std::optional<std::vector<std::string>> ModelPlatform::EnumeratePaths() {
    std::vector<std::string> paths;
    for (const auto& slot : slots_) {
        if (slot->plugIn == 0 && slot->cableIn && slot->backAtMs && NowMs() >= *slot->backAtMs) {
            slot->backAtMs.reset();
            slot->monitor->PlugIn();
            PlugIn(*slot);
        }
        if (slot->plugIn != 0) paths.push_back(slot->path);
    }
    return paths;
}

std::unique_ptr<HidConnection> ModelPlatform::Open(const std::string& path, bool) {
    for (const auto& slot : slots_) {
        if (slot->plugIn != 0 && slot->path == path && !slot->accessRefused)
            return std::make_unique<ModelConnection>(slot, *slot->monitor);
    }
    return nullptr;
}

bool ModelPlatform::PermissionDenied(const std::string& path) {
    return std::any_of(slots_.begin(), slots_.end(), [&path](const std::shared_ptr<Slot>& slot) {
        return slot->plugIn != 0 && slot->path == path && slot->accessRefused;
    });
}
