#include "cli/cli_view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/failure_report.h"
#include "app/message_format.h"
#include "app/status_message.h"
#include "cli/json_output.h"
#include "common/display_text.h"
#include "monitor/discovery.h"

namespace {

ProgressForm FormFor(const CommandLine& line, const CliIo& io) {
    if (line.json) return ProgressForm::Json;
    return io.outputIsTerminal ? ProgressForm::Terminal : ProgressForm::Lines;
}

bool IsYes(std::string answer) {
    std::transform(answer.begin(), answer.end(), answer.begin(), [](unsigned char c) { return std::tolower(c); });
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
    return answer == "y" || answer == "yes";
}

}  // namespace

CliView::CliView(const CommandLine& line, CliIo& io)
    : line_(line), io_(io), progress_(io.out, FormFor(line, io), io.language) {}

std::string LocalText(TextId id, Language language, const std::vector<MessageArgument>& arguments) {
    return FormatCatalogueText(CatalogueText(id, language), arguments);
}

std::string CliView::Text(TextId id, std::vector<MessageArgument> arguments) const {
    return LocalText(id, io_.language, arguments);
}

bool CliView::ConfirmProgramsToClose(const std::vector<std::string>& programs) {
    programs_ = programs;  // named in the summary, confirmed with it
    return true;
}

void CliView::Refuse(Status status, const std::string& text, CliOutcome outcome) {
    progress_.EndLine();
    io_.err << "quillon-cli: " << text << "\nquillon-cli: status " << StatusCodeText(status) << "\n";
    io_.err.flush();
    lastMessage_ = text;
    refusal_ = status;
    outcome_ = outcome;
}

void CliView::PrintMonitorList(const std::vector<MonitorEntry>& entries, bool withDevices) {
    for (const MonitorEntry& entry : entries) {
        io_.err << "  " << DisplayText(entry.identity.model) << "  " << DisplayText(entry.identity.serial);
        if (withDevices) io_.err << "  " << DisplayText(MonGetDevicePath(entry.monitorHandle));
        io_.err << "\n";
    }
    io_.err.flush();
}

std::optional<MonitorHandle> CliView::SelectMonitor(MonitorSelection& selection, std::uint32_t mode,
                                                    const std::string& model, const std::string& serial) {
    const SelectionResult result = selection.Discover(mode, model, serial);
    if (result == SelectionResult::Cancel) {
        const Status status = selection.FailureStatus();
        if (std::optional<UserMessage> message = selection.TakeMessage()) {
            Refuse(status, MessageText(*message, io_.language));
            // A monitor waits in an update and no record was found: where it was looked for.
            if (const std::string folders = RecordFoldersLine(*message, io_.language); !folders.empty()) {
                io_.err << "quillon-cli: " << folders << "\n";
                io_.err.flush();
            }
        }
        selection.Cancel(std::nullopt);
        return std::nullopt;
    }
    if (result == SelectionResult::Ok) {
        // An interrupted update decides the monitor; --monitor may only confirm it.
        if (!line_.monitor.empty() && !serial.empty() && serial != line_.monitor) {
            selection.Cancel(std::nullopt);
            Refuse(kCliOtherMonitorInterrupted, Text(text_id::kFinishInterruptedFirst, {model, serial, serial}));
            return std::nullopt;
        }
        model_ = model;
        serial_ = serial;
        return selection.Confirm(std::nullopt);
    }

    const std::vector<MonitorEntry> entries = selection.Entries();
    std::optional<std::size_t> chosen;
    if (!line_.monitor.empty()) {
        std::vector<MonitorEntry> named;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].identity.serial != line_.monitor) continue;
            named.push_back(entries[i]);
            chosen = i;
        }
        if (named.size() != 1) {
            selection.Cancel(std::nullopt);
            // Taking the first of several would update whichever the system listed first.
            if (named.empty()) {
                Refuse(kCliNoMonitorWithSerial, Text(text_id::kNoMonitorWithSerial, {line_.monitor}));
                PrintMonitorList(entries);
            } else {
                Refuse(kCliSeveralWithSerial, Text(text_id::kSeveralWithSerial, {line_.monitor}));
                PrintMonitorList(named, true);  // their lines differ only in the device
            }
            return std::nullopt;
        }
    } else if (entries.size() == 1) {
        chosen = 0;
    } else {
        selection.Cancel(std::nullopt);
        if (entries.empty()) {
            Refuse(kCliNoMonitor, Text(text_id::kNoMonitor), CliOutcome::NothingToDo);
        } else {
            Refuse(kCliSeveralMonitors, Text(text_id::kSeveralMonitors));
            PrintMonitorList(entries);
        }
        return std::nullopt;
    }
    model_ = entries[*chosen].identity.model;
    serial_ = entries[*chosen].identity.serial;
    return selection.Confirm(*chosen);
}

void CliView::PrintSummary(std::uint32_t minutes) {
    std::ostream& out = io_.out;
    if (line_.json) {
        JsonWriter json = JsonOutput(out);
        json.BeginObject()
            .Field("event", "summary")
            .Field("model", model_)
            .Field("serial", serial_)
            .Field("currentVersion", CurrentVersion())
            .Field("newVersion", NewVersion())
            .Field("minutes", minutes)
            .Key("programsToClose")
            .BeginArray();
        for (const std::string& program : programs_) json.String(program);
        json.EndArray().EndObject();
        out << "\n";
    } else {
        out << Text(text_id::kSummaryMonitor, {model_, serial_}) << "\n"
            << Text(text_id::kSummaryCurrent, {CurrentVersion()}) << "\n"
            << Text(text_id::kSummaryNew, {NewVersion()}) << "\n"
            << Text(text_id::kUpdateMinutes, {static_cast<int>(minutes)}) << "\n";
        if (!programs_.empty()) {
            std::string names;
            for (const std::string& name : programs_) names += (names.empty() ? "" : ", ") + name;
            out << Text(text_id::kSummaryPrograms, {names}) << "\n";
        }
        out << Text(text_id::kSummaryKeepConnected) << "\n";
    }
    out.flush();
}

bool CliView::ConfirmWarning(std::uint32_t minutes) {
    PrintSummary(minutes);
    if (line_.yes) return true;
    io_.err << Text(text_id::kConfirmUpdate);
    io_.err.flush();
    const std::optional<std::string> answer = io_.readLine();
    if (answer && IsYes(*answer)) return true;
    if (!answer) io_.err << "\n";
    Refuse(kCliNotConfirmed, Text(text_id::kNotConfirmed), CliOutcome::NotConfirmed);
    return false;
}

void CliView::QueueStep(const ProgressSnapshot& step) {
    const std::lock_guard lock(stepsMutex_);
    queuedSteps_.push_back(step);
}

void CliView::ShowQueuedSteps() {
    std::vector<ProgressSnapshot> steps;
    {
        const std::lock_guard lock(stepsMutex_);
        steps.swap(queuedSteps_);
    }
    for (const ProgressSnapshot& step : steps) progress_.ShowStep(step);
}

void CliView::ShowProgress(const ProgressSnapshot& snapshot) {
    ShowQueuedSteps();
    progress_.Show(snapshot);
}

void CliView::EndDialog() {
    ShowQueuedSteps();
    progress_.EndLine();
}

void CliView::ShowMessage(const UserMessage& message) {
    ShowQueuedSteps();
    progress_.EndLine();
    const std::string text = MessageText(message, io_.language);
    lastMessage_ = text;
    if (message.text == text_id::kComplete) {
        outcome_ = CliOutcome::Completed;
        if (!line_.json) io_.out << text << "\n";
        io_.out.flush();
        return;
    }
    if (message.text == text_id::kAlreadyApplied)
        outcome_ = CliOutcome::NothingToDo;
    else if (message.icon == MessageIcon::Error)
        outcome_ = CliOutcome::Refused;
    io_.err << "quillon-cli: " << text << "\n";
    // Where the record of a failed run is, for whoever looks into it later.
    if (const std::string logLine = RunLogLine(message, io_.language); !logLine.empty())
        io_.err << "quillon-cli: " << logLine << "\n";
    io_.err.flush();
}
