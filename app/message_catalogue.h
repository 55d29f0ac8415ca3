#pragma once
// The numbered texts the user sees, in English and Japanese. The texts live in
// app/resources/messages.{en,ja}.txt and are compiled into the library.
#include <cstdint>
#include <string>

#include "app/message_format.h"

using TextId = std::uint32_t;

namespace text_id {  // one named constant per catalogue id
inline constexpr TextId kAboutItem = 101, kUpdatedVersion = 102, kUpdateButton = 103, kNoPackageFile = 104,
    kSeveralPackageFiles = 105, kCalibrating = 106, kCurrentVersion = 150, kConnectMonitor = 250,
    kSelectMonitor = 251, kOk = 252, kCancel = 253, kProgramsToClose = 270, kUpdateMinutes = 350,
    kWarningHeading = 351, kWarningText = 352, kWarningPower = 353, kWarningCable = 354, kExecute = 355,
    kReadMeHeading = 400, kReadMe = 401, kComplete = 501, kFileOpenFailed = 550, kFileBroken = 551,
    kNoFileForMonitor = 552, kAlreadyApplied = 553, kCannotUpdateWithFile = 554, kUpdateFailed = 555,
    kSamePc = 600, kMonitorNotFound = 601, kOnlyOneMonitor = 602, kCommunicationError = 650,
    kDevicesRefused = 660, kProgramNotClosed = 661, kDamagedBackupKept = 662, kSameIdentityTwice = 663,
    kIdentityNotRecordable = 664;
// The line under the progress bar: the step, then the time left or what a long wait waits for.
inline constexpr TextId kStepPreparing = 700, kStepEnteringUpdateMode = 701, kStepWriting = 702,
    kStepVerifying = 703, kStepRestarting = 704, kStepRestoringSettings = 705, kStepFinishing = 706,
    kMinutesLeft = 707, kUnderAMinuteLeft = 708, kWaitingForReturn = 709, kWaitingForCheck = 710,
    kWaitingForMonitor = 711;
// The run log: under an error message, where this run's log was written; in the About box, where the logs are kept.
inline constexpr TextId kRunLogWritten = 720, kRunLogFolder = 721;
// One update at a time, and quillon-cli's own lines.
inline constexpr TextId kUpdateRunning = 730, kCannotStopMinutes = 731, kCannotStopUnderAMinute = 732,
    kSummaryMonitor = 733, kSummaryCurrent = 734, kSummaryNew = 735, kSummaryPrograms = 736,
    kSummaryKeepConnected = 737, kConfirmUpdate = 738, kNoMonitor = 739, kSeveralMonitors = 740,
    kNoMonitorWithSerial = 741, kFinishInterruptedFirst = 742, kNotConfirmed = 743, kNoInterruptedUpdate = 744,
    kInterruptedUpdate = 745, kListDuringUpdate = 746;
// Where an interrupted update stopped, as the status command says it.
inline constexpr TextId kStoppedNothingWritten = 747, kStoppedPrepared = 748, kStoppedWriting = 749,
    kStoppedWritten = 750, kStoppedRestarted = 751, kStoppedChecked = 752, kStoppedSettingsRestored = 753,
    kStoppedDone = 754;
// quillon-cli: --monitor names a serial number that several connected monitors present.
inline constexpr TextId kSeveralWithSerial = 755;
// quillon-cli list: how many connected monitors could not be opened, before text 660.
inline constexpr TextId kMonitorsNotOpened = 756;
// Under text 600: the folders where no record of the interrupted update was found.
inline constexpr TextId kNoRecordFound = 757;
// quillon-cli status: the file the record was read from, after text 745.
inline constexpr TextId kRecordReadFrom = 758;
// The window: a package given to a second start, which the running window does not take.
inline constexpr TextId kPackageNotOpened = 770;
// The window's file chooser for a package: its caption, and the names of its two filters.
inline constexpr TextId kChoosePackage = 771, kPackageFilter = 772, kAllFilesFilter = 773;
// quillon-cli history, when no run log is found.
inline constexpr TextId kNoRunsRecorded = 774;
}  // namespace text_id

enum class Language { English, Japanese };

// The user-interface language from the environment: the first of LC_ALL, LC_MESSAGES, LANG
// that is set and non-empty; "ja", or "ja" followed by "_", "." or "@" and more, selects
// Japanese; everything else, and nothing set, English.
Language UserInterfaceLanguage();

// The process-wide language of CatalogueText(id): UserInterfaceLanguage() until set.
// For tests and the window.
Language CatalogueLanguage();
void SetCatalogueLanguage(Language language);

// UTF-8; "" for an id the catalogue lacks.
std::string CatalogueText(TextId id, Language language);
std::string CatalogueText(TextId id);
