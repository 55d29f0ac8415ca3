#pragma once
// What `info` shows of a loaded file: one JSON object, or a readable table.
#include <ostream>
#include <string_view>

#include "tools/vfwtool/loaded_file.h"

// Exactly one JSON object and a newline. Components in ascending type order,
// sets in key order.
void WriteInfoJson(const LoadedFile& file, std::ostream& out);

// The summary line, the file's values, and a table of components per set.
// Texts from the file are shown with unprintable bytes as \xNN.
void WriteInfoTable(std::string_view path, const LoadedFile& file, std::ostream& out);
