#pragma once
// A container file read, verified and parsed as one of the content kinds.
#include <cstdint>
#include <optional>
#include <string>

#include "package/container.h"
#include "package/content.h"

struct LoadedFile {
    SharedBytes payload;    // the decrypted payload the content's bytes live in
    std::uint16_t kind = 0;  // the payload's first word, as the file holds it
    Content content;
};

// On failure `fault` is the library's one-line description: the file cannot be
// read, fails its checksum, is truncated, or holds invalid content.
std::optional<LoadedFile> LoadFile(const std::string& path, std::string& fault);
