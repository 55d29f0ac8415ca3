#pragma once
// The text `vfwtool --help` prints.
#include <string_view>

std::string_view UsageText();
