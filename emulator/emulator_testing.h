#pragma once
// What the emulator's tests share: a temporary directory and a monitor served
// on a real socket, on a virtual clock.
#include <memory>
#include <string>
#include <vector>

#include "common/temp_dir_testing.h"
#include "common/clock.h"
#include "emulator/monitor.h"
#include "emulator/socket_server.h"
#include "emulator/host_testing.h"


// A monitor and its server; the transfer time is zero unless a test sets it.
struct ServedMonitor {
    explicit ServedMonitor(MonitorConfig config, const std::string& dir);
    // A host connected to the current plug-in, its tunnel opened.
    TestHost Connect();

    std::unique_ptr<Monitor> monitor;
    std::unique_ptr<SocketServer> server;
};

MonitorConfig TestConfig(MonitorKind kind);

// Writes a component the way the host does: geometry query, announcement,
// blocks (combined packets when `combined`).
int WriteComponent(TestHost& host, std::string_view upperId, const std::vector<std::uint8_t>& image, bool combined);
// Reads `length` bytes of a component back, block by block.
std::vector<std::uint8_t> ReadComponent(TestHost& host, std::string_view id, std::size_t length);
