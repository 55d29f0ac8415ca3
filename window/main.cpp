// quillon: the monitor firmware updater.
#include <iostream>
#include <string>
#include <vector>

#include "window/updater_app.h"
#include "window/window_command_line.h"

int main(int argc, char** argv) {
    // Read before Qt looks for a display: --help and --version need none.
    const ParsedWindowCommandLine parsed = ParseWindowCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> exitCode = AnswerWithoutWindow(parsed, std::cout, std::cerr)) return *exitCode;
    UpdaterApp application(argv[0]);
    return application.Run(AbsolutePackagePath(parsed.line->package));
}
