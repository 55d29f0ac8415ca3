#include "tools/vfwtool/report.h"

#include <cstdio>

namespace {

std::string Escape(std::string_view text, bool escapeHigh) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F || (escapeHigh && byte >= 0x80)) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace

int UsageError(std::ostream& err, std::string_view message) {
    err << "vfwtool: " << OneLine(message) << " (see vfwtool --help)\n";
    return kExitUsage;
}

int FileError(std::ostream& err, std::string_view path, std::string_view fault) {
    err << OneLine(path) << ": " << OneLine(fault) << '\n';
    return kExitBadFile;
}

std::string OneLine(std::string_view text) { return Escape(text, false); }

std::string Printable(std::string_view text) { return Escape(text, true); }
