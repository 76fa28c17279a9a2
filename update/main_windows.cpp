#include "platform.hpp"

#include "base.hpp"

// Wide arguments: a path with letters outside the ANSI code page arrives whole.
extern "C" int wmain(int argc, wchar_t* argv[]) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(wstringToUtf8(argv[i]));
    }
    return updateMain(args);
}
