#include <iostream>
#include <string>
#include <vector>

#include "tools/vfwtool/vfwtool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = RunVfwtool(args, std::cout, std::cerr);
    // A result that did not reach stdout (a full disk, a closed pipe) is a failure.
    if (!(std::cout << std::flush)) {
        std::cerr << "vfwtool: cannot write to standard output\n";
        return code == 0 ? 1 : code;
    }
    return code;
}
