#pragma once
// The words for an update's progress, in the catalogue's languages: the line
// under the window's bar and the command line's step lines.
#include <string>

#include "app/message_catalogue.h"
#include "update/progress_tracker.h"

// The step alone: "Writing component 2 of 3".
std::string StepText(const ProgressSnapshot& snapshot, Language language);
// The step with the time left, or, in a wait whose end is unknown, with what
// it waits for and how long it may still take. "" before the update has begun.
std::string ProgressLine(const ProgressSnapshot& snapshot, Language language);
