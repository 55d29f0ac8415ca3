#pragma once
// quillon-cli's JSON: one object a line, each string valid UTF-8 whatever
// bytes a monitor sent (a byte that is not UTF-8 reads as U+FFFD).
#include <ostream>

#include "common/json.h"

inline JsonWriter JsonOutput(std::ostream& out) { return JsonWriter(out, JsonBytes::ReplaceInvalid); }
