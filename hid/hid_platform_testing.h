#pragma once
// Test support: an in-process HID platform whose devices are small models of
// the test's own, and a builder for report descriptors.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <string>
#include <vector>

#include "hid/hid_platform.h"

// Builds report descriptor bytes item by item.
class DescriptorBuilder {
public:
    DescriptorBuilder& UsagePage(std::uint16_t page) { return Item2(0x06, page); }
    DescriptorBuilder& Usage(std::uint16_t usage) { return Item2(0x0A, usage); }
    DescriptorBuilder& UsageMin(std::uint16_t usage) { return Item2(0x1A, usage); }
    DescriptorBuilder& UsageMax(std::uint16_t usage) { return Item2(0x2A, usage); }
    DescriptorBuilder& ReportId(std::uint8_t id) { return Item1(0x85, id); }
    DescriptorBuilder& ReportSize(std::uint8_t bits) { return Item1(0x75, bits); }
    DescriptorBuilder& ReportCount(std::uint16_t count) { return Item2(0x96, count); }
    DescriptorBuilder& Logical(std::uint8_t min, std::uint16_t max) { return Item1(0x15, min).Item2(0x26, max); }
    DescriptorBuilder& Application() { return Item1(0xA1, 0x01); }
    DescriptorBuilder& Logical() { return Item1(0xA1, 0x02); }
    DescriptorBuilder& End() { bytes.push_back(0xC0); return *this; }
    DescriptorBuilder& Feature() { return Item1(0xB1, 0x02); }  // data, variable, absolute
    DescriptorBuilder& Input() { return Item1(0x81, 0x02); }

    // A feature value of `bits` x `count` under the page and report ID in effect.
    DescriptorBuilder& FeatureValue(std::uint16_t usage, std::uint8_t bits, std::uint16_t count = 1) {
        return Usage(usage).Logical(0, 0xFF).ReportSize(bits).ReportCount(count).Feature();
    }
    // A one-bit feature button.
    DescriptorBuilder& FeatureButton(std::uint16_t usage) {
        return Usage(usage).Logical(0, 1).ReportSize(1).ReportCount(1).Feature();
    }

    std::vector<std::uint8_t> bytes;

private:
    DescriptorBuilder& Item1(std::uint8_t prefix, std::uint8_t value) {
        bytes.insert(bytes.end(), {prefix, value});
        return *this;
    }
    DescriptorBuilder& Item2(std::uint8_t prefix, std::uint16_t value) {
        bytes.insert(bytes.end(), {prefix, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
        return *this;
    }
};

// A device model: answers feature reads through `onGet` (the request's bytes,
// byte 0 the report ID, to be filled) and records every transfer.
struct FakeDevice {
    HidAttributes attributes;
    std::vector<std::uint8_t> descriptor;
    std::function<HidIo(std::span<std::uint8_t>)> onGet = [](std::span<std::uint8_t>) { return HidIo::Ok; };
    std::function<HidIo(std::span<const std::uint8_t>)> onSet = [](std::span<const std::uint8_t>) { return HidIo::Ok; };
    bool failOpen = false;

    struct Transfer {
        bool set;
        std::vector<std::uint8_t> bytes;  // set: what was sent; get: the request as the host made it
    };
    std::vector<Transfer> transfers;
    int opens = 0;

    // Input reports for ReadInput, fed by the test while a reader runs.
    void PushInput(std::vector<std::uint8_t> report) {
        std::lock_guard lock(inputMutex);
        inputs.push_back(std::move(report));
        inputReady.notify_all();
    }
    std::mutex inputMutex;
    std::condition_variable inputReady;
    std::deque<std::vector<std::uint8_t>> inputs;
    bool inputFails = false;
    int inputWaits = 0;  // calls to ReadInput
};

class FakeConnection final : public HidConnection {
public:
    explicit FakeConnection(FakeDevice& device) : device_(device) {}
    HidAttributes Attributes() const override { return device_.attributes; }
    std::span<const std::uint8_t> ReportDescriptor() const override { return device_.descriptor; }
    HidIo GetFeature(std::span<std::uint8_t> report) override {
        device_.transfers.push_back({false, {report.begin(), report.end()}});
        return device_.onGet(report);
    }
    HidIo SetFeature(std::span<const std::uint8_t> report) override {
        device_.transfers.push_back({true, {report.begin(), report.end()}});
        return device_.onSet(report);
    }
    // Waits a few milliseconds at most, so that a stopping reader ends promptly.
    HidInput ReadInput(std::span<std::uint8_t> report, int) override {
        std::unique_lock lock(device_.inputMutex);
        ++device_.inputWaits;
        if (device_.inputFails) return HidInput::Failed;
        if (device_.inputs.empty()) device_.inputReady.wait_for(lock, std::chrono::milliseconds(2));
        if (device_.inputs.empty()) return HidInput::Timeout;
        const std::vector<std::uint8_t> next = std::move(device_.inputs.front());
        device_.inputs.pop_front();
        std::copy_n(next.begin(), std::min(next.size(), report.size()), report.begin());
        return HidInput::Report;
    }

private:
    FakeDevice& device_;
};

class FakePlatform final : public HidPlatform {
public:
    FakeDevice& Add(const std::string& path) {
        auto& slot = devices_[path];
        slot = std::make_unique<FakeDevice>();
        return *slot;
    }
    void Remove(const std::string& path) { devices_.erase(path); }
    bool failEnumeration = false;
    // When set: this many more listings succeed, then every one fails.
    std::optional<int> listingsBeforeFailure;

    std::optional<std::vector<std::string>> EnumeratePaths() override {
        if (listingsBeforeFailure && (*listingsBeforeFailure)-- <= 0) failEnumeration = true;
        if (failEnumeration) return std::nullopt;
        std::vector<std::string> paths;
        for (const auto& [path, device] : devices_) paths.push_back(path);
        return paths;
    }
    std::unique_ptr<HidConnection> Open(const std::string& path, bool) override {
        const auto found = devices_.find(path);
        if (found == devices_.end() || found->second->failOpen) return nullptr;
        ++found->second->opens;
        return std::make_unique<FakeConnection>(*found->second);
    }
    std::unique_ptr<DeviceEvents> WatchDevices() override { return nullptr; }

private:
    std::map<std::string, std::unique_ptr<FakeDevice>> devices_;
};

// The interface descriptor of a tunnel device: report 1 carries the descriptor
// chunk (0xFF30:0x0001, `chunkLength` bytes), report 2 the tunnel token (0xFF30:0x0006).
inline std::vector<std::uint8_t> TunnelInterfaceDescriptor(std::uint16_t chunkLength) {
    DescriptorBuilder d;
    d.UsagePage(0xFF30).Usage(0x0001).Application();
    d.ReportId(1).FeatureValue(0x0001, 8, chunkLength);
    d.ReportId(2).FeatureValue(0x0006, 16);
    d.End();
    return d.bytes;
}

// The vendor descriptor a monitor hands out through the tunnel: an
// Application collection on the Monitor page with usage Monitor Control,
// filled with feature fields and then empty Usage items to exactly `size` bytes (at least 9).
inline std::vector<std::uint8_t> MonitorDescriptor(std::size_t size, std::uint16_t page = 0x80) {
    constexpr std::size_t kField = 18;  // bytes of one UsagePage + FeatureValue
    DescriptorBuilder d;
    d.UsagePage(page).Usage(0x0001).Application();
    for (std::uint16_t usage = 0x10; d.bytes.size() + kField + 1 <= size; ++usage) d.UsagePage(0xFF02).FeatureValue(usage, 8);
    while (d.bytes.size() + 1 < size) d.bytes.push_back(0x08);  // Usage without data
    d.End();
    return d.bytes;
}

// A device model of the chunked descriptor transfer: each read of report 1
// returns [offset, total, payload] and moves on by itself; a write sets the
// offset. `tamper` may change a chunk before the host sees it.
struct ChunkServer {
    std::vector<std::uint8_t> descriptor;
    std::size_t chunkLength = 0;
    std::uint16_t next = 0;
    std::vector<std::uint16_t> offsetsServed;
    std::function<void(std::span<std::uint8_t> chunk, int read)> tamper;
    int reads = 0;

    HidIo Get(std::span<std::uint8_t> report) {
        if (report.size() < 5) return HidIo::Failed;
        const std::span<std::uint8_t> chunk = report.subspan(1);
        const std::size_t payload = chunkLength - 4;
        const auto total = static_cast<std::uint16_t>(descriptor.size());
        chunk[0] = static_cast<std::uint8_t>(next);
        chunk[1] = static_cast<std::uint8_t>(next >> 8);
        chunk[2] = static_cast<std::uint8_t>(total);
        chunk[3] = static_cast<std::uint8_t>(total >> 8);
        for (std::size_t i = 0; i < payload && 4 + i < chunk.size(); ++i)
            chunk[4 + i] = next + i < descriptor.size() ? descriptor[next + i] : 0;
        if (tamper) tamper(chunk, reads);
        ++reads;
        offsetsServed.push_back(static_cast<std::uint16_t>(chunk[0] | chunk[1] << 8));
        next = static_cast<std::uint16_t>(next + payload);
        return HidIo::Ok;
    }
    void Set(std::span<const std::uint8_t> report) {
        if (report.size() >= 3) next = static_cast<std::uint16_t>(report[1] | report[2] << 8);
    }
};

// Makes `device` a tunnel device that serves `server` (report 1) and `token` (report 2).
inline void ServeTunnel(FakeDevice& device, ChunkServer& server, std::uint16_t token = 0) {
    device.descriptor = TunnelInterfaceDescriptor(static_cast<std::uint16_t>(server.chunkLength));
    device.onGet = [&server, token](std::span<std::uint8_t> report) {
        if (report[0] == 1) return server.Get(report);
        if (report[0] == 2 && report.size() >= 3) {
            report[1] = static_cast<std::uint8_t>(token);
            report[2] = static_cast<std::uint8_t>(token >> 8);
        }
        return HidIo::Ok;
    };
    device.onSet = [&server](std::span<const std::uint8_t> report) {
        if (report[0] == 1) server.Set(report);
        return HidIo::Ok;
    };
}
