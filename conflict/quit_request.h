#pragma once
// The one message this system sends to another program: a request to quit,
// as one JSON text with nothing before or after it.
#include <string>

// Names the receiving programs' local message routing endpoint in the "uri" member.
inline constexpr char kQuitRequestHost[] = "localhost";

std::string QuitRequestMessage();

// Connects to the pipe, writes the message once and closes again. Whether
// anything was delivered is not reported: the caller watches the process instead.
void SendQuitRequest(const std::string& pipeName);
