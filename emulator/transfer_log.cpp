#include "emulator/transfer_log.h"

#include <cstring>

namespace {
std::string FormatUsage(UsageAddress address) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X:%04X", address.page, address.usage);
    return text;
}
}  // namespace

std::string TransferRecord::Format() const {
    std::string line = std::to_string(timeMs) + (isSet ? " SET " : " GET ") + FormatUsage(report);
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on " " + std::string.
    if (tunnelled) line.append(" ").append(FormatUsage(*tunnelled));
    line += err == 0 ? " ok" : std::string(" ") + strerrorname_np(err);
    for (std::uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", byte);
        line += hex;
    }
    return line;
}

FileLog::FileLog(const std::string& path) : file_(std::fopen(path.c_str(), "a")) {}

FileLog::~FileLog() {
    if (file_ != nullptr) std::fclose(file_);
}

void FileLog::Record(const TransferRecord& record) {
    if (file_ == nullptr) return;
    std::fprintf(file_, "%s\n", record.Format().c_str());
    std::fflush(file_);  // a killed emulator keeps its log up to the last transfer
}
