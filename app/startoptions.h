#pragma once

// --help and --version of the window programs, answered before anything
// needs a display: the usage goes to standard output and the program ends
// with status 0. Qt's own options (-platform, -style, ...) are left to Qt.
#include <cstdio>
#include <cstring>

namespace StartOptions {

// 0 or 2 when the program is to end with that status before its window
// opens, -1 when it is to go on.
inline int answered(int argc, char* argv[], const char* usage)
{
    for (int i = 1; i < argc; ++i) {
        const char* const a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(usage, stdout);
            return std::fflush(stdout) == 0 ? 0 : 2;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("%s %s\n", argv[0] && std::strrchr(argv[0], '/') ? std::strrchr(argv[0], '/') + 1 : argv[0],
                        VELKO_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 2;
        }
    }
    return -1;
}

} // namespace StartOptions
