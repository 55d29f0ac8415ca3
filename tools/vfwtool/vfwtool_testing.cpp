#include "tools/vfwtool/vfwtool_testing.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "package/container.h"
#include "tools/vfwtool/vfwtool.h"


RunResult RunTool(std::vector<std::string> args) {
    std::ostringstream out, err;
    RunResult result;
    result.code = RunVfwtool(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

std::size_t LineCount(std::string_view text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteContainerFile(const std::string& path, std::span<const std::uint8_t> payload) {
    ASSERT_EQ(WriteContainer(path, payload.data(), payload.size()), kStatusSuccess) << path;
}

FirmwareComponent Component(std::uint16_t type, std::string_view bytes, std::uint16_t seconds,
                            std::uint8_t attribute) {
    FirmwareComponent c;
    c.type = type;
    c.writeSeconds = seconds;
    c.attribute = attribute;
    c.data = SharedSlice::CopyOf(Bytes(bytes));
    return c;
}

FirmwarePackage SamplePackage(std::initializer_list<std::string> keys) {
    FirmwarePackage p;
    std::memcpy(p.modelName.data(), "MON27", 5);
    p.version = "000010000200003000040007b";  // 0000100002000030000400123 in stored form
    for (const std::string& key : keys) {
        FirmwareSet& s = p.sets[key];
        s.key = key;
        s.components.emplace(2, Component(2, kFox, 30, 7));
        s.components.emplace(6, Component(6, kDigits));
    }
    return p;
}

FirmwareImage SampleImage() {
    FirmwareImage image;
    std::memcpy(image.modelName.data(), "MON27", 5);
    image.versionField = "00042";
    image.component = Component(3, kDigits, 12, 1);
    return image;
}

BackupRecord SampleBackup(bool withSet) {
    BackupRecord r;
    BackupInfo& info = r.info;
    info.loaderFlag = 1;
    std::memcpy(info.modelName.data(), "ABCDEFGHIJKLMNOP", 16);  // fills the field
    std::memcpy(info.serialNumber.data(), "SN1234567", 9);      // fills the field, no terminator
    std::memcpy(info.targetVersion.data(), "000010000200003000040007b", 25);
    std::memcpy(info.currentVersion.data(), "0000100002000030000400005", 25);
    info.stage = 300;
    info.savedSettingB8 = 1;
    info.savedSetting54 = 2;
    info.setting9 = 1;
    info.setting10 = 0;
    info.setting11 = 3;
    info.setting12 = 2;
    info.setting13 = 1;
    info.savedSetting68 = 1;
    if (withSet) {
        FirmwareSet s;
        s.key = "000010000200003000040007b";
        s.components.emplace(4, Component(4, kDigits, 5, 2));
        r.set = std::move(s);
    }
    return r;
}

std::vector<std::uint8_t> Payload(const Content& content) {
    auto bytes = Serialize(content);
    if (!bytes) throw std::runtime_error("the fixture does not serialize");
    return *bytes;
}
