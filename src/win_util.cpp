#include "win_util.hpp"

#include <cstdlib>

namespace {

// One walk over the words of lpsCmdLine: only the space separates words, a
// word opened by a double quote runs to the next one. With split set, the
// character that ends a word becomes a NUL and, when words is given, each
// word's start is stored there. Returns the number of words.
int walkWords(char* lpsCmdLine, int len, bool split, char** words) {
    int count = 0;
    int i = 0;
    for (;;) {
        while (i < len && lpsCmdLine[i] == ' ') {
            ++i;
        }
        if (i >= len) {
            break;
        }
        char end = ' ';
        if (lpsCmdLine[i] == '"') {
            end = '"';
            ++i;
        }
        char* start = lpsCmdLine + i;
        while (i < len && lpsCmdLine[i] != end) {
            ++i;
        }
        if (split) {
            if (words != NULL) {
                words[count] = start;
            }
            if (i < len) {
                lpsCmdLine[i] = '\0';
            }
        }
        ++count;
        ++i;
    }
    return count;
}

}  // namespace

void parseWinArg(HINSTANCE /*hCurInst*/, HINSTANCE /*hPrevInst*/, LPSTR lpsCmdLine,
                 int /*nCmdShow*/) {
    int len = lstrlenA(lpsCmdLine);
    int argc = 1 + walkWords(lpsCmdLine, len, false, NULL);
    char** argv = static_cast<char**>(std::malloc(argc * sizeof(char*)));
    // Without the array the words are still split; only their starts go unrecorded.
    walkWords(lpsCmdLine, len, true, argv);
    if (argv != NULL) {
        argv[argc - 1] = NULL;
        std::free(argv);
    }
}
