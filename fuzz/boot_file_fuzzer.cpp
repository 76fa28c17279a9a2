// Feeds arbitrary bytes as a boot file through the launcher's own reading and
// command-line assembly, then splits the result the way the process starter
// does. A std::exception from the reader is the only allowed way out, and a
// file that fails must leave the previous command line in place. A tree that
// was read never nests deeper than the limit, and a command line never holds
// a NUL character.
#include "base_win.hpp"
#include "java_command_line.hpp"
#include "main.hpp"
#include "xml_util.hpp"

#include "scratch_boot_file.hpp"

#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace {

// Deepest level of the tree, walked without recursion.
size_t treeDepth(const boost::property_tree::ptree& root) {
    size_t deepest = 0;
    std::vector<std::pair<const boost::property_tree::ptree*, size_t>> pending = {{&root, 0}};
    while (!pending.empty()) {
        std::pair<const boost::property_tree::ptree*, size_t> node = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, node.second);
        for (const boost::property_tree::ptree::value_type& child : *node.first) {
            pending.push_back({&child.second, node.second + 1});
        }
    }
    return deepest;
}

void checkTree() {
    boost::property_tree::ptree pt;
    try {
        pt = readConfigXml(scratchBootFile);
    } catch (const std::exception&) {
        return;
    }
    // Element levels, plus <xmlattr> and the attribute below the deepest one.
    if (treeDepth(pt) > maxBootFileNesting + 2) {
        std::fprintf(stderr, "a tree %zu levels deep was read\n", treeDepth(pt));
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeScratchBootFile("boot-fuzz");
    appDir = "/opt/app/";
    parentDir = "/opt/app/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeScratchBootFile(data, size);

    checkTree();

    static const std::string previous = "previous command line";
    javaCommandLine = previous;
    try {
        readBootXml(scratchBootFile);
    } catch (const std::exception&) {
        if (javaCommandLine != previous) {
            std::fprintf(stderr, "a failed read changed the command line to: %s\n",
                         javaCommandLine.c_str());
            std::abort();
        }
        return 0;
    }
    if (javaCommandLine.find('\0') != std::string::npos) {
        std::fprintf(stderr, "a command line holding a NUL character was accepted\n");
        std::abort();
    }
    splitCommandLine(javaCommandLine.c_str());
    return 0;
}
