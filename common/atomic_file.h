#pragma once
// Files replaced whole: the new contents go to a temporary file beside the
// target, which is flushed to disk and renamed over it, and the directory is
// flushed too. A crash or power loss at any moment leaves either the old file
// or the new one, never a torn one.
#include <cstdint>
#include <span>
#include <string>

#include "common/unique_fd.h"

class AtomicFileWriter {
public:
    // Creates the temporary file; check Ok() before writing.
    explicit AtomicFileWriter(std::string path);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool Ok() const { return fault_.empty(); }
    // Appends bytes.
    bool Write(std::span<const std::uint8_t> bytes);
    // Overwrites bytes already written, at an offset from the start.
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Flushes, closes and renames the temporary file over the target. A file
    // replaced keeps its owner and group where the process may give them (root):
    // root finishing a user's update through sudo leaves the user's record the user's.
    bool Commit();
    // What went wrong first, in one line ("cannot write: No space left on device").
    // It is also noted as this thread's system failure, with the target's path
    // ("cannot write /dir/.backup: No space left on device"); the constructor
    // forgets an earlier note.
    const std::string& Fault() const { return fault_; }

private:
    void KeepOwner();
    // Keeps the first fault, "<what>: <errno text>", and notes the call as
    // `operation` (by default `what`) followed by the target's path.
    bool Fail(const char* what, const char* operation = nullptr);

    std::string path_;
    std::string temp_;
    UniqueFd fd_;
    bool committed_ = false;
    std::string fault_;
};

// Replaces the file at path with these bytes; on failure the old file stays and
// `fault`, when given, says why.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, std::string* fault = nullptr);
