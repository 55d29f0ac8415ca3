#pragma once
// Every feature transfer a monitor served, for tests and for the log file.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "emulator/report_layout.h"

struct TransferRecord {
    std::uint64_t timeMs = 0;
    bool isSet = false;
    UsageAddress report;                     // the interface usage of the report ID
    std::optional<UsageAddress> tunnelled;   // the usage a tunnel request named
    int err = 0;                             // 0, or the errno the transfer failed with
    std::vector<std::uint8_t> bytes;         // the report, ID byte first

    // "1234 SET FF30:0002 FF02:00C2 ok 02 02 ff ..." on one line.
    std::string Format() const;
};

class TransferLog {
public:
    virtual ~TransferLog() = default;
    virtual void Record(const TransferRecord& record) = 0;
};

// Keeps every record; for tests.
class RecordingLog final : public TransferLog {
public:
    void Record(const TransferRecord& record) override { records.push_back(record); }
    std::vector<TransferRecord> records;
};

// Appends one line per record to a file.
class FileLog final : public TransferLog {
public:
    explicit FileLog(const std::string& path);
    ~FileLog() override;
    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;
    bool Ok() const { return file_ != nullptr; }
    void Record(const TransferRecord& record) override;

private:
    std::FILE* file_;
};
