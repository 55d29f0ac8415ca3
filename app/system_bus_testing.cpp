#include "app/system_bus_testing.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr char kAddressVariable[] = "DBUS_SYSTEM_BUS_ADDRESS";
constexpr char kDaemon[] = "/usr/bin/dbus-daemon";
// dbusmock is a package of the system's Python, whichever python3 comes first in PATH.
// It logs each call, to a file of the test's (not to the bus's output).
constexpr char kMockCommand[] = "/usr/bin/python3 -m dbusmock --template logind";

std::string FileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

std::runtime_error SystemError(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

// Frees what sd-bus handed out.
struct Bus {
    sd_bus* bus = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    Bus() {
        if (const int r = sd_bus_open_system(&bus); r < 0) throw SystemError("sd_bus_open_system", -r);
    }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;
    ~Bus() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus);
    }
    void Check(int result, const std::string& what) const {
        if (result >= 0) return;
        if (sd_bus_error_is_set(&error))
            throw std::runtime_error(what + ": " + error.name + ": " + (error.message ? error.message : ""));
        throw SystemError(what, -result);
    }
};

}  // namespace

TestSystemBus::TestSystemBus(Logind logind) {
    if (const char* previous = ::getenv(kAddressVariable)) previousAddress_ = previous;
    const std::string socket = dir_.File(logind == Logind::NoBus ? "no-bus-here" : "system_bus_socket");
    // Before the daemon starts: it hands its environment to the mock it starts.
    ::setenv(kAddressVariable, ("unix:path=" + socket).c_str(), 1);
    if (logind == Logind::NoBus) return;
    StartDaemon(logind != Logind::Missing);
    if (logind == Logind::Missing) return;

    const std::string& fifo = lockFifo_ = dir_.File("inhibit.fifo");
    if (::mkfifo(fifo.c_str(), 0600) != 0) throw SystemError("mkfifo " + fifo, errno);
    lockFifoReader_ = UniqueFd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!lockFifoReader_) throw SystemError("open " + fifo, errno);
    if (logind == Logind::Granting)
        CallMock("AddMethod", "fd = os.open('" + fifo + "', os.O_WRONLY | os.O_NONBLOCK | os.O_CLOEXEC)\n"
                              "ret = dbus.types.UnixFd(fd)\n"
                              "os.close(fd)\n");
    else
        CallMock("AddMethod", "raise dbus.exceptions.DBusException('inhibiting is not allowed here', "
                              "name='org.freedesktop.DBus.Error.AccessDenied')\n");
}

TestSystemBus::~TestSystemBus() {
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        ::waitpid(daemon_, nullptr, 0);
    }
    if (previousAddress_) ::setenv(kAddressVariable, previousAddress_->c_str(), 1);
    else ::unsetenv(kAddressVariable);
}

void TestSystemBus::StartDaemon(bool withLogind) {
    const std::string config = dir_.File("bus.conf");
    const std::string services = dir_.File("services");
    const std::string log = dir_.File("daemon.log");
    std::string text =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>" + std::string(::getenv(kAddressVariable)) + "</listen>\n"
        "  <auth>EXTERNAL</auth>\n"
        "  <policy context=\"default\">\n"
        "    <allow user=\"*\"/>\n"
        "    <allow own=\"*\"/>\n"
        "    <allow send_destination=\"*\"/>\n"
        "    <allow receive_sender=\"*\"/>\n"
        "  </policy>\n";
    if (withLogind) {
        if (::mkdir(services.c_str(), 0700) != 0) throw SystemError("mkdir " + services, errno);
        WriteFile(services + "/org.freedesktop.login1.service",
                  "[D-BUS Service]\nName=org.freedesktop.login1\nExec=" + std::string(kMockCommand) + " --logfile " +
                      dir_.File("logind.log") + "\n");
        text += "  <servicedir>" + services + "</servicedir>\n";
    }
    text += "</busconfig>\n";
    WriteFile(config, text);

    int address[2];
    if (::pipe2(address, O_CLOEXEC) != 0) throw SystemError("pipe2", errno);
    UniqueFd readEnd(address[0]), writeEnd(address[1]);
    UniqueFd logFile(::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!logFile) throw SystemError("open " + log, errno);
    const std::string configOption = "--config-file=" + config;
    const char* const argv[] = {kDaemon, configOption.c_str(), "--print-address", "--nofork", nullptr};

    daemon_ = ::fork();
    if (daemon_ < 0) throw SystemError("fork", errno);
    if (daemon_ == 0) {
        // The bus ends with the test process, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(writeEnd.get(), STDOUT_FILENO);
        ::dup2(logFile.get(), STDERR_FILENO);
        ::execv(kDaemon, const_cast<char* const*>(argv));
        ::_exit(127);
    }
    writeEnd.Close();
    // Ready once it prints its address; the end of the pipe without one: it could not start.
    std::string printed;
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(readEnd.get(), &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || c == '\n') break;
        printed += c;
    }
    if (printed.empty()) throw std::runtime_error("dbus-daemon did not start: " + FileText(log));
}

void TestSystemBus::CallMock(const char* method, const std::string& code) const {
    Bus bus;
    bus.Check(sd_bus_call_method(bus.bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                 "org.freedesktop.DBus.Mock", method, &bus.error, nullptr, "sssss",
                                 "org.freedesktop.login1.Manager", "Inhibit", "ssss", "h", code.c_str()),
              std::string("the mocked logind's ") + method);
}

std::vector<InhibitCall> TestSystemBus::InhibitCalls() const {
    Bus bus;
    bus.Check(sd_bus_call_method(bus.bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                 "org.freedesktop.DBus.Mock", "GetMethodCalls", &bus.error, &bus.reply, "s", "Inhibit"),
              "the mocked logind's GetMethodCalls");
    std::vector<InhibitCall> calls;
    bus.Check(sd_bus_message_enter_container(bus.reply, 'a', "(tav)"), "reading the calls");
    while (sd_bus_message_enter_container(bus.reply, 'r', "tav") > 0) {
        std::uint64_t time = 0;
        bus.Check(sd_bus_message_read(bus.reply, "t", &time), "reading a call's time");
        bus.Check(sd_bus_message_enter_container(bus.reply, 'a', "v"), "reading a call's arguments");
        std::vector<std::string> arguments;
        const char* argument = nullptr;
        while (sd_bus_message_read(bus.reply, "v", "s", &argument) > 0) arguments.emplace_back(argument);
        bus.Check(sd_bus_message_exit_container(bus.reply), "reading a call's arguments");
        bus.Check(sd_bus_message_exit_container(bus.reply), "reading a call");
        if (arguments.size() != 4) throw std::runtime_error("Inhibit called with " + std::to_string(arguments.size()) +
                                                            " arguments");
        calls.push_back({arguments[0], arguments[1], arguments[2], arguments[3]});
    }
    return calls;
}

bool TestSystemBus::LockHeldHere() const {
    if (lockFifo_.empty()) return false;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target == lockFifo_ && entry.path().filename() != std::to_string(lockFifoReader_.get()))
            return true;
    }
    return false;
}
