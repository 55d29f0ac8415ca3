#pragma once
// The message box of a UserMessage: its text in the user-interface language,
// its icon, and the caption "Quillon" or the executable's name; under an error
// of a run that wrote a log, the line that says where.
#include "app/status_message.h"

class QWidget;

// Shows the box modally over `owner` with a single OK button.
void ShowUserMessage(QWidget* owner, const UserMessage& message);
