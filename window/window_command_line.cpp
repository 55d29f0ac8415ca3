#include "window/window_command_line.h"

#include <array>
#include <filesystem>

#include "common/command_line_options.h"

#ifndef QUILLON_VERSION
#error "QUILLON_VERSION comes from the project's version in CMake"
#endif

namespace {

// As quillon-cli's.
constexpr int kWindowExitUsage = 2;

constexpr OptionRule kVersion{.name = "--version", .takesValue = false, .alias = "-V"};
constexpr std::array kOptions{kVersion};

ParsedWindowCommandLine Error(std::string text) { return {std::nullopt, std::move(text)}; }

}  // namespace

ParsedWindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& arguments) {
    std::string error;
    const std::optional<ParsedArguments> parsed = ParseCommandLine(arguments, kOptions, error);
    if (!parsed) return Error(error);
    WindowCommandLine line;
    if (parsed->help) {
        line.help = true;
        return {line, {}};
    }
    if (parsed->Has("--version")) {
        if (!parsed->operands.empty()) return Error("--version takes no arguments");
        line.version = true;
        return {line, {}};
    }
    if (parsed->operands.size() > 1) return Error("unexpected argument \"" + parsed->operands[1] + "\"");
    if (!parsed->operands.empty()) {
        if (parsed->operands.front().empty()) return Error("the package file name is empty");
        line.package = parsed->operands.front();
    }
    return {line, {}};
}

std::optional<int> AnswerWithoutWindow(const ParsedWindowCommandLine& parsed, std::ostream& out, std::ostream& err) {
    if (!parsed.line) {
        err << "quillon: " << parsed.error << "\n" << WindowUsageLine() << "\n";
        return kWindowExitUsage;
    }
    if (parsed.line->help) {
        out << WindowHelpText();
        return 0;
    }
    if (parsed.line->version) {
        out << "quillon " << QUILLON_VERSION << "\n";
        return 0;
    }
    return std::nullopt;
}

std::string AbsolutePackagePath(const std::string& package) {
    if (package.empty()) return package;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(package, error);
    return error ? package : absolute.string();
}

std::string WindowUsageLine() { return "usage: quillon [FILE.vfw] | --help | --version"; }

std::string WindowHelpText() {
    return WindowUsageLine() +
           "\n\nThe Quillon monitor firmware updater's window. It leads through the update of one of\n"
           "the maker's monitors connected over USB, from the read-me to the completion message,\n"
           "and finishes an update that was interrupted. quillon-cli does the same without a display.\n\n"
           "  FILE.vfw       the firmware package to install (default: the .vfw file beside the\n"
           "                 executable; with none there, the window asks for one)\n"
           "  --help, -h     this text\n"
           "  --version, -V  the version\n\n"
           "One window at a time for each user: a second start brings the first to the front and\n"
           "ends; a FILE.vfw given to it is not opened, and a message says so.\n"
           "One update at a time on the machine: while another window or quillon-cli updates a\n"
           "monitor, the window names that update and ends.\n\n"
           "Exit status: 0 the window ran and was closed (it showed the update's outcome itself),\n"
           "1 another update was running, or a FILE.vfw given to a second start was not opened,\n"
           "2 a wrong command line.\n\n"
           "Files:\n"
           "  $XDG_STATE_HOME/quillon/  the state folder: the run logs, one for each run, the last 20\n"
           "                            kept, and .backup, the record of an update under way, from\n"
           "                            which an interrupted update is finished (~/.local/state/quillon\n"
           "                            without XDG_STATE_HOME)\n"
           "  /var/lib/quillon/         the state folder when run as root\n"
           "  .backup                   beside the executable: a record left by the portable folder or\n"
           "                            an earlier version, resumed and moved into the state folder\n\n"
           "Environment:\n"
           "  XDG_STATE_HOME        where the state folder is\n"
           "  XDG_RUNTIME_DIR       where the running window is found by a second start\n"
           "  LC_ALL, LC_MESSAGES, LANG\n"
           "                        the first set: Japanese for \"ja\" (ja_JP.UTF-8, ...), else English\n"
           "  QUILLON_HID_EMULATOR  a folder of emulated monitors (monitor-emulator) used instead of\n"
           "                        the USB devices\n"
           "  QT_QPA_PLATFORM       Qt's display platform (wayland, xcb, ...)\n";
}
