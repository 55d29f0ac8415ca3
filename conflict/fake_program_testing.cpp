// A stand-in for one of the maker's programs, for the tests. Copied under a
// program's name and started with:
//   fake_program [OPTIONS] sleep                  runs until killed
//   fake_program [OPTIONS] listen SOCKET OUTFILE  takes one quit request, saves its bytes, exits 0
//   fake_program [OPTIONS] ignore SOCKET          takes the request and runs on
// Options: --map FILE maps a file into memory, as Wine maps a Windows program's
// .exe; --ignore-term ignores SIGTERM, as a program that is stuck would (set
// before the socket appears, so a test that waits for it knows it is ignored);
// --ready-fd N writes one byte to the inherited descriptor N and closes it once
// the program is set up (mapped, its signal handling set, its socket listening),
// so that a test waits for exactly that, however slow the machine.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int readyFd = -1;

void SayReady() {
    if (readyFd < 0) return;
    const char byte = 'r';
    if (write(readyFd, &byte, 1) != 1) std::_Exit(5);
    close(readyFd);
    readyFd = -1;
}

int Listen(const char* path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    unlink(path);
    // Bind under a temporary name and rename, so the socket appears only when it accepts.
    const std::string temp = std::string(path) + ".binding";
    sockaddr_un tempAddress = address;
    std::snprintf(tempAddress.sun_path, sizeof tempAddress.sun_path, "%s", temp.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&tempAddress), sizeof tempAddress) != 0 || listen(fd, 4) != 0) return -1;
    rename(temp.c_str(), path);
    return fd;
}

std::vector<char> ReceiveAll(int listener) {
    const int peer = accept(listener, nullptr, nullptr);
    std::vector<char> bytes;
    char chunk[256];
    for (ssize_t n; (n = read(peer, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    close(peer);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int arg = 1;
    for (;;) {
        if (arg + 1 < argc && std::strcmp(argv[arg], "--map") == 0) {
            const int fd = open(argv[arg + 1], O_RDONLY);
            struct stat st {};
            if (fd < 0 || fstat(fd, &st) != 0 || mmap(nullptr, static_cast<std::size_t>(st.st_size) + 1, PROT_READ, MAP_PRIVATE, fd, 0) == MAP_FAILED)
                return 3;
            arg += 2;
        } else if (arg + 1 < argc && std::strcmp(argv[arg], "--ready-fd") == 0) {
            readyFd = std::atoi(argv[arg + 1]);
            arg += 2;
        } else if (arg < argc && std::strcmp(argv[arg], "--ignore-term") == 0) {
            std::signal(SIGTERM, SIG_IGN);
            ++arg;
        } else {
            break;
        }
    }
    const std::string mode = arg < argc ? argv[arg] : "sleep";
    if (mode == "listen" && arg + 2 < argc) {
        const int listener = Listen(argv[arg + 1]);
        if (listener < 0) return 4;
        SayReady();
        const auto bytes = ReceiveAll(listener);
        const std::string out = argv[arg + 2];
        FILE* f = std::fopen((out + ".part").c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        std::rename((out + ".part").c_str(), out.c_str());
        return 0;
    }
    if (mode == "ignore" && arg + 1 < argc) {
        const int listener = Listen(argv[arg + 1]);
        if (listener < 0) return 4;
        SayReady();
        ReceiveAll(listener);
    }
    SayReady();
    for (;;) pause();
}
