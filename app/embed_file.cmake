# Writes a C++ source that holds the bytes of INPUT and returns them from the
# function FUNCTION (declared in app/catalogue_files.h), so the catalogue needs
# no file beside the executable. Run with cmake -P at build time.
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
# The extra 0 keeps the array non-empty for an empty input; it is not part of the text.
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.
#include \"app/catalogue_files.h\"

namespace {
constexpr unsigned char kBytes[] = {${bytes}0};
}

std::string_view ${FUNCTION}() { return {reinterpret_cast<const char*>(kBytes), sizeof kBytes - 1}; }
")
