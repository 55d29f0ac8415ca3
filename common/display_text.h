#pragma once
// Text that came from outside the program (a monitor's model name, serial
// number or version, a path) made safe to show on a terminal, in the window
// and in a log line: whatever the bytes, they cannot move the cursor, clear
// the screen, start a line of their own or garble what follows.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Valid UTF-8 stays as it is. A control character (C0, DEL, and C1 whether as
// a raw byte or as a UTF-8 character) and each byte that is not part of valid
// UTF-8 is shown as "\xNN", one per byte; a backslash as "\\", so that the
// shown text tells which bytes were sent.
std::string DisplayText(std::string_view bytes);

// The bytes such text stands for, where it is read back (a run log) or typed (an
// emulated monitor's identity): "\xNN" is the byte NN, "\\" a backslash.
// nullopt when a backslash begins neither.
std::optional<std::string> BytesOfDisplayText(std::string_view shown);

// How many terminal columns valid UTF-8 text takes: one per character, two
// for the wide characters of East Asian scripts; as DisplayText shows them.
std::size_t DisplayColumns(std::string_view utf8);
