#pragma once
// The directory of the running executable, where the package file is searched
// and the backup file lives.
#include <optional>
#include <string>

// The directory part of /proc/self/exe, ending in "/"; empty when the link cannot be read.
std::optional<std::string> ExecutableDirectory();

// The directory part of a path, up to and including its last "/"; "" when it has none.
std::string DirectoryOf(const std::string& path);
