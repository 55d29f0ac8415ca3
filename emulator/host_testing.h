#pragma once
// A small host for tests: talks to an emulated monitor over its socket the way
// the updater does, with uhid messages, and knows the tunnel's request layout.
// Tests run the server on their own thread: `pump` lets it serve after each
// message the host sends.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "emulator/report_layout.h"

struct CreateInfo {
    std::string name;
    std::uint16_t bus = 0;
    std::uint32_t vendor = 0, product = 0, version = 0;
    std::vector<std::uint8_t> descriptor;
};

class TestHost {
public:
    TestHost(const std::string& path, std::function<void()> pump);

    bool Connected() const { return connected_; }
    const CreateInfo& Create() const { return create_; }
    const ReportLayout& Layout() const { return layout_; }

    // Raw feature reports; err is 0 or the device's errno, -1 when the device went away.
    int GetReport(std::uint8_t reportId, std::vector<std::uint8_t>& data);
    int SetReport(const std::vector<std::uint8_t>& data);

    // A usage of the interface, its field bytes only.
    std::optional<std::vector<std::uint8_t>> Get(UsageAddress address);
    int Set(UsageAddress address, const std::vector<std::uint8_t>& field);

    // The vendor descriptor through 0xFF30:0x0001, resynchronising on a wrong
    // offset as the host does; nothing after 21 wrong chunks in a row.
    std::optional<std::vector<std::uint8_t>> ReadTunnelledDescriptor();

    // A tunnelled request on `channel` (0x0002..0x000E); the token prefix is
    // added on the owner-checked channels.
    int TunnelWrite(std::uint16_t channel, UsageAddress address, std::uint16_t token,
                    const std::vector<std::uint8_t>& data);
    // The whole reply of a read channel, after the request.
    std::optional<std::vector<std::uint8_t>> TunnelRead(std::uint16_t channel, UsageAddress address,
                                                        std::uint16_t token);

    // Reads the tunnel token and the vendor descriptor of a tunnel monitor, after
    // which Read and Write reach vendor usages through the tunnel (false when
    // either fails). Without 0xFF30:0x0001 there is nothing to open.
    bool OpenTunnel();
    std::uint16_t Token() const { return token_; }
    const std::optional<ReportLayout>& Tunnelled() const { return tunnelled_; }

    // A vendor usage, whichever way this monitor carries it: natively, or as a
    // tunnel request on the short or long channel (without the owner check).
    std::optional<std::vector<std::uint8_t>> Read(UsageAddress address);
    int Write(UsageAddress address, const std::vector<std::uint8_t>& data);
    std::optional<std::uint32_t> ReadValue(UsageAddress address);
    int WriteValue(UsageAddress address, std::uint32_t value);

    // True when the device has sent UHID_DESTROY or closed the connection.
    bool Destroyed();

private:
    bool Receive(std::uint32_t type, void* event);

    UniqueFd fd_;
    std::function<void()> pump_;
    bool connected_ = false;
    CreateInfo create_;
    ReportLayout layout_;
    std::uint32_t nextId_ = 1;
    std::uint16_t token_ = 0;
    std::optional<ReportLayout> tunnelled_;
};
