#pragma once
// Tests only: a run's journal entries go to a socket of the test's own, never to
// the machine's journal. Every binary that runs whole updates names one that
// nobody reads from its first test to its last (state_home_testing_environment.cpp);
// a test that reads the entries names its own. The real programs never change it.
#include <string>

#include "common/scoped_setting.h"

// The journal's socket: journald's own unless a test named another.
std::string& JournalSocketSetting();
using ScopedJournalSocket = ScopedSetting<std::string, &JournalSocketSetting>;
