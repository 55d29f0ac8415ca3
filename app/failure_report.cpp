#include "app/failure_report.h"

#include <cstdio>

void ReportFailure(std::ostream& out, Status status, const std::optional<SystemFailure>& cause) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
    out << "quillon: ";
    if (cause) out << cause->Text() << " (status " << code << ")\n";
    else out << "status " << code << "\n";
    out.flush();
}
