#include <vector>

#include "app/backup_record.h"
#include "app/failure_report.h"
#include "app/status_message.h"
#include "app/update_lock.h"
#include "app/update_run.h"
#include "app/version_display.h"
#include "cli/cli_view.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "update/update_context.h"

namespace {

// Where the update stopped: the stage's name in JSON, and in the user's words.
struct StoppedAt {
    std::int32_t fromStage;
    const char* name;
    TextId text;
};
constexpr StoppedAt kStoppedAt[] = {
    {kStageDone, "done", text_id::kStoppedDone},
    {kStageSettingsStored, "settings-restored", text_id::kStoppedSettingsRestored},
    {kStageChecked, "new-firmware-checked", text_id::kStoppedChecked},
    {kStageRestarted, "restarted-into-new-firmware", text_id::kStoppedRestarted},
    {kStageWritten, "written", text_id::kStoppedWritten},
    {kStageWriting, "writing", text_id::kStoppedWriting},
    {kStagePrepared, "prepared", text_id::kStoppedPrepared},
};
constexpr StoppedAt kNothingWritten{0, "nothing-written", text_id::kStoppedNothingWritten};

const StoppedAt& StoppedAtStage(std::int32_t stage) {
    for (const StoppedAt& at : kStoppedAt)
        if (stage >= at.fromStage) return at;
    return kNothingWritten;
}

}  // namespace

int StatusCommand(const CommandLine& line, CliIo& io) {
    const std::optional<std::string> folder = CommandFolder(io);
    if (!folder) return kExitFailed;
    // Where an update would look, in the same order.
    const std::vector<std::string> folders =
        RecordFolders(io.stateFolders.value_or(StateFoldersFor(StateEnvironment::OfProcess())), *folder);
    const std::optional<std::string> found = FirstRecordFile(folders);
    // The lock only looked at, never taken: status never refuses an update. The
    // file is written whole (renamed into place), so it can be read while an update runs.
    std::string updateRunning;
    if (const std::optional<UpdateLockHolder> running = RunningUpdate()) updateRunning = running->Description();

    if (!found) {
        if (line.json) {
            JsonWriter json = JsonOutput(io.out);
            json.BeginObject().Key("interrupted").Bool(false);
            if (!updateRunning.empty()) json.Field("updateRunning", updateRunning);
            json.EndObject();
            io.out << "\n";
        } else {
            UserMessage none;
            none.recordFolders = folders;
            io.out << CatalogueText(text_id::kNoInterruptedUpdate, io.language) << "\n"
                   << RecordFoldersLine(none, io.language) << "\n";
        }
        return kExitDone;
    }
    const std::string& path = *found;

    // Read, never rewritten nor moved: a damaged file stays for the next update to deal with.
    RunBackupRecord record;
    Status status = PkgLoadFile(path.c_str(), &record.recordHandle, FileLinks::Refuse);
    if (!IsFailure(status)) status = ReadBackupRecord(record);
    PkgCloseAll();
    if (IsFailure(status)) {
        ReportFailure(io.err, status, TakeSystemFailure(), kCliName);
        io.err << "quillon-cli: the record of an interrupted update, " << path << ", cannot be read\n";
        return kExitFailed;
    }
    if (line.json) {
        JsonWriter json = JsonOutput(io.out);
        json.BeginObject()
            .Key("interrupted")
            .Bool(true)
            .Field("model", record.identity.model)
            .Field("serial", record.identity.serial)
            .Field("currentVersion", FormatVersion(record.currentVersion))
            .Field("targetVersion", FormatVersion(record.targetVersion))
            .Field("stage", record.stage)
            .Field("step", StoppedAtStage(record.stage).name)
            .Field("recordFile", path);
        if (!updateRunning.empty()) json.Field("updateRunning", updateRunning);
        json.EndObject();
        io.out << "\n";
    } else {
        io.out << LocalText(
                      text_id::kInterruptedUpdate, io.language,
                      {record.identity.model, record.identity.serial, FormatVersion(record.currentVersion), FormatVersion(record.targetVersion),
                       static_cast<int>(record.stage), CatalogueText(StoppedAtStage(record.stage).text, io.language)})
               << "\n"
               << LocalText(text_id::kRecordReadFrom, io.language, {path}) << "\n";
        if (!updateRunning.empty()) io.out << LocalText(text_id::kUpdateRunning, io.language, {updateRunning}) << "\n";
    }
    return kExitDone;
}
