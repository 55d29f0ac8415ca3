#pragma once
// Small fixtures for package tests: a temporary directory, files, and
// packages built from a compact description.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/temp_dir_testing.h"
#include "package/container.h"
#include "package/content.h"

namespace testing_support {


inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 8));
    return out;
}

inline FirmwareComponent Component(std::uint16_t type, std::vector<std::uint8_t> bytes, std::uint16_t seconds = 0,
                                   std::uint8_t attribute = 0) {
    FirmwareComponent c;
    c.type = type;
    c.writeSeconds = seconds;
    c.attribute = attribute;
    c.data = SharedSlice::CopyOf(bytes);
    return c;
}

inline FirmwareSet Set(const std::string& key, std::initializer_list<FirmwareComponent> components) {
    FirmwareSet s;
    s.key = key;
    for (const auto& c : components) s.components.emplace(c.type, c);
    return s;
}

// A package whose sets are listed under their own keys.
inline FirmwarePackage Package(const std::string& model, const std::string& version,
                               std::initializer_list<FirmwareSet> sets) {
    FirmwarePackage p;
    std::copy_n(model.begin(), std::min(model.size(), p.modelName.size()), p.modelName.begin());
    p.version = version;
    for (const auto& s : sets) p.sets.emplace(s.key, s);
    return p;
}

inline std::vector<std::uint8_t> PackagePayload(const FirmwarePackage& p) { return SerializePackage(p).value(); }

// Encrypts a payload into a container file.
inline void WritePayload(const std::string& path, const std::vector<std::uint8_t>& payload) {
    ASSERT_EQ(WriteContainer(path, payload.data(), payload.size()), kStatusSuccess);
}

inline std::vector<std::uint8_t> ReadPayload(const std::string& path) {
    const ContainerFile file = ReadContainerFile(path);
    EXPECT_EQ(file.status, kStatusSuccess) << file.fault;
    return file.payload ? *file.payload : std::vector<std::uint8_t>{};
}

inline SharedBytes Shared(std::vector<std::uint8_t> bytes) {
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

inline std::span<const std::uint8_t> View(const FirmwareComponent& c) { return c.data.bytes(); }

}  // namespace testing_support
