#include "conflict/quit_request.h"

#include "conflict/local_socket_unix.h"

std::string QuitRequestMessage() {
    // The spacing is part of the message: a space after every colon but the
    // one after "method", none after commas or next to braces.
    return std::string(R"({"id": 0,"type": "tongs","process": "Quillon","dataType": "bridge-cross",)") +
           R"("target": "ApplicationMain","message": {"uri": "/)" + kQuitRequestHost +
           R"(/Application","settings": {"method":"DELETE"}}})";
}

void SendQuitRequest(const std::string& pipeName) {
    LocalSocketUnix client(pipeName);
    if (client.Connect()) {
        const std::string message = QuitRequestMessage();
        client.Write(message.data(), message.size());
    }
    client.Close();
}
