#include "emulator/emulator_testing.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "common/bytes.h"


MonitorConfig TestConfig(MonitorKind kind) {
    MonitorConfig config;
    config.kind = kind;
    config.serial = "SN123456";
    config.model = "QX2701";
    config.firmware = {102, 201, 3, 4, 0x1a};
    config.transferTime = {0, 0};
    return config;
}

ServedMonitor::ServedMonitor(MonitorConfig config, const std::string& dir)
    : monitor(std::make_unique<Monitor>(std::move(config))), server(std::make_unique<SocketServer>(*monitor, dir)) {
    std::string fault;
    server->PlugIn(&fault);
}

TestHost ServedMonitor::Connect() {
    TestHost host(server->Path(), [this] { server->ServeOnce(0); });
    host.OpenTunnel();
    return host;
}

namespace {
std::vector<std::uint8_t> IdBlock(std::string_view id, std::size_t length, bool lower) {
    std::vector<std::uint8_t> block(length);
    for (std::size_t i = 0; i < id.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(lower ? std::tolower(id[i]) : id[i]);
    }
    return block;
}

std::vector<std::uint8_t> Select(std::string_view id, std::uint16_t block, bool lower) {
    auto select = IdBlock(id, 10, lower);
    WriteU16(select, 6, block);
    return select;
}
}  // namespace

int WriteComponent(TestHost& host, std::string_view upperId, const std::vector<std::uint8_t>& image, bool combined) {
    if (int err = host.Write({0xFF02, 0x00C2}, Select(upperId, 0, false)); err != 0) return err;
    const auto geometry = host.Read({0xFF02, 0x00C3});
    if (!geometry) return -1;
    const std::size_t blockSize = ReadU16(*geometry, 6), blockCount = ReadU16(*geometry, 8);
    if (blockSize == 0) return -1;
    if (int err = host.Write({0xFF02, 0x00C2}, Select(upperId, 0, true)); err != 0) return err;
    auto announce = IdBlock(upperId, 16, true);
    WriteU16(announce, 6, static_cast<std::uint16_t>(blockSize));
    WriteU16(announce, 8, static_cast<std::uint16_t>(std::min(blockCount, image.size() / blockSize)));
    if (int err = host.Write({0xFF02, 0x00C3}, announce); err != 0) return err;
    for (std::size_t g = 0; g * blockSize < image.size(); ++g) {
        const std::size_t n = std::min(blockSize, image.size() - g * blockSize);
        if (!combined) {
            if (int err = host.Write({0xFF02, 0x00C2}, Select(upperId, static_cast<std::uint16_t>(g), true)); err != 0) {
                return err;
            }
        }
        for (std::size_t p = 0; p * 512 < n; ++p) {
            const auto from = image.begin() + static_cast<std::ptrdiff_t>(g * blockSize + p * 512);
            const std::size_t k = std::min<std::size_t>(512, n - p * 512);
            std::vector<std::uint8_t> packet;
            if (combined) {
                packet = IdBlock(upperId, 10, true);
                WriteU16(packet, 6, static_cast<std::uint16_t>(g));
                WriteU16(packet, 8, static_cast<std::uint16_t>(p));
            }
            packet.insert(packet.end(), from, from + static_cast<std::ptrdiff_t>(k));
            packet.resize(combined ? 522 : 512);
            if (int err = host.Write({0xFF02, combined ? std::uint16_t{0x00FE} : std::uint16_t{0x00C7}}, packet);
                err != 0) {
                return err;
            }
        }
    }
    return 0;
}

std::vector<std::uint8_t> ReadComponent(TestHost& host, std::string_view id, std::size_t length) {
    std::vector<std::uint8_t> bytes;
    host.Write({0xFF02, 0x00C2}, Select(id, 0, false));
    const auto geometry = host.Read({0xFF02, 0x00C3});
    if (!geometry) return bytes;
    const std::size_t blockSize = ReadU16(*geometry, 6);
    for (std::size_t g = 0; blockSize > 0 && g * blockSize < length; ++g) {
        host.Write({0xFF02, 0x00C2}, Select(id, static_cast<std::uint16_t>(g), false));
        const std::size_t n = std::min(blockSize, length - g * blockSize);
        for (std::size_t p = 0; p * 512 < n; ++p) {
            const auto packet = host.Read({0xFF02, 0x00C7});
            if (!packet) return bytes;
            bytes.insert(bytes.end(), packet->begin(), packet->begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(512, n - p * 512)));
        }
    }
    return bytes;
}
