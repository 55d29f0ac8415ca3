#include "app/failure_report.h"

#include <cstdio>

std::string StatusCodeText(Status status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
    return code;
}

void ReportFailure(std::ostream& out, Status status, const std::optional<SystemFailure>& cause,
                   std::string_view program) {
    const std::string code = StatusCodeText(status);
    out << program << ": ";
    if (cause) out << cause->Text() << " (status " << code << ")\n";
    else out << "status " << code << "\n";
    out.flush();
}
