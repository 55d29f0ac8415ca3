#include "app/state_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <vector>

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr char kUnderHome[] = "/.local/state/quillon";

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool Absolute(const std::optional<std::string>& path) { return path && !path->empty() && path->front() == '/'; }

std::optional<UserEntry> FromPasswd(const passwd* entry) {
    if (entry == nullptr || entry->pw_dir == nullptr) return std::nullopt;
    return UserEntry{entry->pw_uid, entry->pw_dir};
}

// getpwuid_r/getpwnam_r with a buffer that grows until the entry fits.
template <typename Lookup>
std::optional<UserEntry> LookUpUser(Lookup lookup) {
    std::vector<char> buffer(1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = lookup(&entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return error == 0 ? FromPasswd(found) : std::nullopt;
    }
}

std::string StateUnderHome(const std::optional<UserEntry>& user) {
    if (!user || !Absolute(user->home)) return {};
    return user->home + kUnderHome;
}

// A uid as sudo writes it: decimal digits only.
std::optional<uid_t> ParseUid(const std::string& text) {
    uid_t uid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), uid);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return uid;
}

}  // namespace

StateEnvironment StateEnvironment::OfProcess() {
    StateEnvironment environment;
    environment.xdgStateHome = Variable("XDG_STATE_HOME");
    environment.home = Variable("HOME");
    environment.effectiveUid = ::geteuid();
    environment.sudoUid = Variable("SUDO_UID");
    environment.sudoUser = Variable("SUDO_USER");
    environment.userById = [](uid_t uid) {
        return LookUpUser([uid](passwd* entry, char* buffer, std::size_t size, passwd** found) {
            return ::getpwuid_r(uid, entry, buffer, size, found);
        });
    };
    environment.userByName = [](const std::string& name) {
        return LookUpUser([&name](passwd* entry, char* buffer, std::size_t size, passwd** found) {
            return ::getpwnam_r(name.c_str(), entry, buffer, size, found);
        });
    };
    return environment;
}

std::string StateFolderFor(const StateEnvironment& environment) {
    if (environment.effectiveUid == 0) return kSystemStateFolder;
    if (Absolute(environment.xdgStateHome)) return *environment.xdgStateHome + "/quillon";
    if (Absolute(environment.home)) return *environment.home + kUnderHome;
    if (!environment.userById) return {};
    return StateUnderHome(environment.userById(environment.effectiveUid));
}

std::string InvokingUserStateFolder(const StateEnvironment& environment) {
    if (environment.effectiveUid != 0) return {};
    std::optional<UserEntry> user;
    // SUDO_UID names the user exactly; SUDO_USER only when there is no uid.
    if (environment.sudoUid) {
        const std::optional<uid_t> uid = ParseUid(*environment.sudoUid);
        if (uid && environment.userById) user = environment.userById(*uid);
    } else if (environment.sudoUser && !environment.sudoUser->empty() && environment.userByName) {
        user = environment.userByName(*environment.sudoUser);
    }
    // Root running sudo is root: its folder is the run's own.
    if (!user || user->uid == 0) return {};
    return StateUnderHome(user);
}

StateFolders StateFoldersFor(const StateEnvironment& environment) {
    return {StateFolderFor(environment), InvokingUserStateFolder(environment)};
}

std::string StateFolder() { return StateFolderFor(StateEnvironment::OfProcess()); }

int MakeStateFolder(const std::string& folder, std::string& failedAt) {
    if (::mkdir(folder.c_str(), kFolderMode) == 0 || errno == EEXIST) return 0;
    failedAt = folder;
    const int error = errno;
    const std::size_t slash = folder.find_last_of('/');
    if (error != ENOENT || slash == std::string::npos || slash == 0) return error;
    if (const int parent = MakeStateFolder(folder.substr(0, slash), failedAt); parent != 0) return parent;
    failedAt = folder;
    if (::mkdir(folder.c_str(), kFolderMode) == 0 || errno == EEXIST) return 0;
    return errno;
}
