#pragma once
// Moving a backup record from one folder to another without a moment in which
// neither copy exists: a power loss at any point leaves at least one whole
// record. Only regular files are moved; a link, a FIFO or a device in the
// record's place is never opened for reading nor followed.
#include <optional>
#include <string>

#include "common/system_failure.h"

// Renames `from` to `to` (never replacing a file there); across file systems,
// copies it (CopyThenRemove). nullopt on success, else the failed call and its errno;
// on failure `from` stays where it was.
std::optional<SystemFailure> MoveRecordFile(const std::string& from, const std::string& to);

// Writes the contents of `from` to `to` whole (a temporary file flushed and
// renamed into place, the folder flushed), then removes `from` and flushes its
// folder. A crash in between leaves two equal copies (see SameRegularFileContents).
std::optional<SystemFailure> CopyThenRemove(const std::string& from, const std::string& to);

// Whether both paths are regular files (links not followed) with equal bytes.
bool SameRegularFileContents(const std::string& a, const std::string& b);
