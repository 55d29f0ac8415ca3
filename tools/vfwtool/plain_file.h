#pragma once
// Plain (not container) files: component bytes read for a package. Files
// written out go through WriteFileAtomically (common/atomic_file.h).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The whole file; on failure `fault` says why, in one line.
std::optional<std::vector<std::uint8_t>> ReadPlainFile(const std::string& path, std::string& fault);
