#pragma once
// Tests only: test binaries that run updates in parallel must not refuse each
// other, so each process takes a lock of its own name from its first test to its
// last (state_home_testing_environment.cpp); a process it forks shares it. The
// real programs never change the name.
#include <string>

#include "common/scoped_setting.h"

// Empty unless a test gave its process a name of its own.
std::string& TestUpdateLockName();
using ScopedUpdateLockName = ScopedSetting<std::string, &TestUpdateLockName>;
