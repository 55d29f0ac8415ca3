#pragma once
// A killed emulator leaves its socket files behind. Those that no process
// listens on any more are removed, so that hosts do not see them as devices.
#include <string>

void RemoveStaleSockets(const std::string& dir);
