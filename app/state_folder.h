#pragma once
// The user's state folder: where a run keeps its backup record and its run
// logs. What decides it (the environment, the effective user, sudo's variables
// and the user database) comes in a StateEnvironment, the process's own or one
// a test makes, so that the rules can be tried without being root.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

// A user's entry in the user database (passwd).
struct UserEntry {
    uid_t uid = 0;
    std::string home;
};

struct StateEnvironment {
    std::optional<std::string> xdgStateHome;
    std::optional<std::string> home;
    uid_t effectiveUid = 0;
    // Set by sudo to the user who ran it.
    std::optional<std::string> sudoUid;
    std::optional<std::string> sudoUser;
    // The user database, by uid and by name; nullopt for a user it lacks.
    std::function<std::optional<UserEntry>(uid_t)> userById;
    std::function<std::optional<UserEntry>(const std::string&)> userByName;

    // This process's environment, effective uid and the system's user database.
    static StateEnvironment OfProcess();
};

// The folders a run keeps its state in and looks for a backup record in.
struct StateFolders {
    // The run's own: new records, records taken over, run logs. Empty when
    // nothing names one (no XDG_STATE_HOME, no HOME, no user database entry).
    std::string own;
    // Run through sudo: the invoking user's state folder, where a record of that
    // user's own runs lies; empty otherwise.
    std::string invokingUser;
    bool operator==(const StateFolders&) const = default;
};

inline constexpr char kSystemStateFolder[] = "/var/lib/quillon";

// The state folder: /var/lib/quillon for root (effective uid 0), else
// $XDG_STATE_HOME/quillon when XDG_STATE_HOME is an absolute path, else
// ~/.local/state/quillon of HOME when absolute, else of the user's home in the
// user database; empty when none of these names a folder.
std::string StateFolderFor(const StateEnvironment& environment);
// The invoking user's state folder when root runs through sudo (SUDO_UID, else
// SUDO_USER, found in the user database): ~/.local/state/quillon of that user's
// home, since sudo resets the XDG variables. Empty when not run through sudo, for
// sudo from root itself, and when the user has no usable home.
std::string InvokingUserStateFolder(const StateEnvironment& environment);
StateFolders StateFoldersFor(const StateEnvironment& environment);

// The state folder of this process (StateFolderFor(StateEnvironment::OfProcess())).
std::string StateFolder();

// Makes `folder` and its missing parents, each 0700 (the records and logs are
// the user's own); 0 or the errno, with the folder that could not be made in `failedAt`.
int MakeStateFolder(const std::string& folder, std::string& failedAt);
