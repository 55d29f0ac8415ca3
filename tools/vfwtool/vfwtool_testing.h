#pragma once
// Shared by the vfwtool tests: a temporary directory per test, the tool run
// in-process, and small files built with the package library.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/temp_dir_testing.h"
#include "package/content.h"

// The entries of a directory, sorted.


struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};
RunResult RunTool(std::vector<std::string> args);

std::size_t LineCount(std::string_view text);

std::vector<std::uint8_t> Bytes(std::string_view text);
void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> ReadFile(const std::string& path);
// A container holding `payload`, written by the library.
void WriteContainerFile(const std::string& path, std::span<const std::uint8_t> payload);

// Component contents whose CRC-32 values are well known.
inline constexpr std::string_view kDigits = "123456789";  // cbf43926
inline constexpr std::string_view kFox = "The quick brown fox jumps over the lazy dog";  // 414fa339

FirmwareComponent Component(std::uint16_t type, std::string_view bytes, std::uint16_t seconds = 0,
                            std::uint8_t attribute = 0);
// A package with a type 2 and a type 6 component in each set; keys in memory form.
FirmwarePackage SamplePackage(std::initializer_list<std::string> keys);
FirmwareImage SampleImage();
BackupRecord SampleBackup(bool withSet);
std::vector<std::uint8_t> Payload(const Content& content);
