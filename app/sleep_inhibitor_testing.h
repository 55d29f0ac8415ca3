#pragma once
// Tests only: whether runs ask logind for a lock at all. Every binary that runs
// whole updates turns the asking off from its first test to its last
// (state_home_testing_environment.cpp), so that no test reaches the machine's
// logind and no run says there is none; the inhibitor's own tests turn it on,
// with a system bus of their own (system_bus_testing.h). The real programs
// always ask.
#include "common/scoped_setting.h"

// True unless a test turned the asking off.
bool& SleepInhibitionAsked();
using ScopedSleepInhibition = ScopedSetting<bool, &SleepInhibitionAsked>;
