#pragma once
// Tests only: test binaries that run updates in parallel must not refuse each
// other, so each process takes a lock of its own name from its first test to its
// last (state_home_testing_environment.cpp); a process it forks shares it. The
// real programs never change the name.
#include <string>

class ScopedUpdateLockName {
public:
    explicit ScopedUpdateLockName(std::string name);
    ~ScopedUpdateLockName();
    ScopedUpdateLockName(const ScopedUpdateLockName&) = delete;
    ScopedUpdateLockName& operator=(const ScopedUpdateLockName&) = delete;

private:
    std::string previous_;
};
