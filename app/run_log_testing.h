#pragma once
// Tests only: the run logs go to a folder of the test's own, never to the
// user's home. ScopedStateHome points XDG_STATE_HOME at a folder for its
// lifetime and puts the previous value back; every binary that runs whole
// updates links a global one (state_home_testing_environment.cpp).
#include <stdlib.h>

#include <optional>
#include <string>

class ScopedStateHome {
public:
    explicit ScopedStateHome(const std::string& folder) {
        if (const char* value = ::getenv(kVariable)) previous_ = value;
        ::setenv(kVariable, folder.c_str(), 1);
    }
    ~ScopedStateHome() {
        if (previous_) ::setenv(kVariable, previous_->c_str(), 1);
        else ::unsetenv(kVariable);
    }
    ScopedStateHome(const ScopedStateHome&) = delete;
    ScopedStateHome& operator=(const ScopedStateHome&) = delete;

private:
    static constexpr char kVariable[] = "XDG_STATE_HOME";
    std::optional<std::string> previous_;
};
