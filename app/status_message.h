#pragma once
// Which message the user sees for a status code that ends the run.
#include <string>
#include <string_view>
#include <vector>

#include "app/message_catalogue.h"
#include "common/status.h"

enum class MessageIcon { Error, Information };
enum class MessageCaption { Quillon, ExecutableName };  // "Quillon", or the executable's base name (text 501 only)

struct UserMessage {
    TextId text = 0;
    std::vector<MessageArgument> arguments;  // empty: the text is shown unchanged
    MessageIcon icon = MessageIcon::Error;
    MessageCaption caption = MessageCaption::Quillon;
    // Where this run's log was written: an error message says so on a line
    // of its own under its text. Empty: no log, no line.
    std::string runLogPath{};
    // Where a backup record was looked for and none was found: the message says
    // so on a line of its own under its text. Empty: no line.
    std::vector<std::string> recordFolders{};
    bool operator==(const UserMessage&) const = default;
};

// Text, icon and placeholders for a status code; every code not known here gets the
// communication-error text. 601, 602, 663 and 664 receive the monitor's model name and
// serial number, 555 the ten-character error code text. `detail` is what the message
// names besides: for 661 the program that could not be closed, for 663 the devices
// that present one identity.
UserMessage StatusMessage(Status status, std::string_view recordModel, std::string_view recordSerial,
                          std::string_view detail = {});

// The text to show: the catalogue text, formatted when the message has arguments.
std::string MessageText(const UserMessage& message, Language language);
std::string MessageText(const UserMessage& message);
// The line that says where the run's log was written (text 720); "" without a log.
std::string RunLogLine(const UserMessage& message, Language language);
// The line that names the folders where no backup record was found (text 757); "" without them.
std::string RecordFoldersLine(const UserMessage& message, Language language);
// What a message box shows: the text, and under it the line of the record's
// folders and the run log's line, each when there is one.
std::string MessageBoxText(const UserMessage& message, Language language);
