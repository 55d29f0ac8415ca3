#pragma once
// Tests only: the run logs go to a folder of the test's own, never to the
// user's home. ScopedVariable sets (or unsets) an environment variable for its
// lifetime and puts the previous value back; every binary that runs whole
// updates points XDG_STATE_HOME at a temporary folder from its first test to its
// last (state_home_testing_environment.cpp).
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = ::getenv(name_.c_str())) previous_ = old;
        if (value) ::setenv(name_.c_str(), value->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    ~ScopedVariable() {
        if (previous_) ::setenv(name_.c_str(), previous_->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// XDG_STATE_HOME at `folder`: the run logs go to `folder`/quillon.
class ScopedStateHome : public ScopedVariable {
public:
    explicit ScopedStateHome(const std::string& folder) : ScopedVariable("XDG_STATE_HOME", folder) {}
};
