#pragma once
// The directory the monitors' sockets are made in, made first when missing.
#include <string>

// Makes `dir` and each missing folder above it, readable only by this user (the
// sockets in it are the monitors); an existing folder is left as it is. False,
// with `fault` naming the folder and the cause, when one cannot be made.
bool MakeSocketDir(const std::string& dir, std::string& fault);
