// Reading a boot file and assembling the Java command line, alone: a typical
// file of seven items, and one where the seven hide among unrelated items.
#include "base_win.hpp"
#include "main.hpp"

#include <benchmark/benchmark.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <string>

namespace {

const char wantedItems[] =
    "  <item key=\"java\" value=\"${APP_DIR}jre/bin/java\"/>\n"
    "  <item key=\"-Xmn\" value=\"16m\"/>\n"
    "  <item key=\"-Xms\" value=\"64m\"/>\n"
    "  <item key=\"-Xmx\" value=\"512m\"/>\n"
    "  <item key=\"-cp\" value=\"lib/app.jar;lib/util.jar\"/>\n"
    "  <item key=\"args\" value=\"-Dfile.encoding=UTF-8\"/>\n"
    "  <item key=\"main\" value=\"com.example.Main\"/>\n";

std::string bootFile(int unrelatedItems) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<boot>\n";
    for (int i = 0; i < unrelatedItems; ++i) {
        text += "  <item key=\"unrelated." + std::to_string(i) + "\" value=\"value " +
                std::to_string(i) + "\"/>\n";
    }
    return text + wantedItems + "</boot>\n";
}

void readBootFile(benchmark::State& state) {
    boost::filesystem::path dir = boost::filesystem::temp_directory_path() /
                                  boost::filesystem::unique_path("boot-bench-%%%%-%%%%");
    boost::filesystem::create_directories(dir);
    std::string path = (dir / "boot.xml").string();
    std::ofstream(path, std::ios::binary) << bootFile(static_cast<int>(state.range(0)));
    appDir = "/opt/app/";
    parentDir = "/opt/app/";

    for (auto _ : state) {
        readBootXml(path);
        benchmark::DoNotOptimize(javaCommandLine.data());
    }
    if (javaCommandLine != "/opt/app/jre/bin/java -Xmn16m -Xms64m -Xmx512m -cp "
                           "lib/app.jar;lib/util.jar -Dfile.encoding=UTF-8 com.example.Main") {
        state.SkipWithError("unexpected command line");
    }
    state.counters["file_bytes"] =
        static_cast<double>(boost::filesystem::file_size(path));
    boost::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(readBootFile)->ArgName("unrelated_items")->Arg(0)->Arg(10000);

BENCHMARK_MAIN();
