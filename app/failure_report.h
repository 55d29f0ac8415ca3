#pragma once
// The line on standard error that goes with a run's failure message: the status
// the layers returned and, when a system call failed behind it, that call and
// its errno text. The message the user sees says what to do; this line says
// what happened, for whoever reads the terminal or the session's journal.
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "common/status.h"
#include "common/system_failure.h"

// "0x80000015": how a status is written wherever it is shown.
std::string StatusCodeText(Status status);

// Writes "quillon: HIDIOCSFEATURE /dev/hidraw3: Input/output error (status 0x80000015)",
// or "quillon: status 0x80000024" when no system call failed, and a line feed;
// the line starts with the name of the program that writes it.
void ReportFailure(std::ostream& out, Status status, const std::optional<SystemFailure>& cause,
                   std::string_view program = "quillon");
