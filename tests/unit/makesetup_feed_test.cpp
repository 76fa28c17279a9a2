// makesetup's feed folder: what a version adds to a feed that holds 1.0
// already, and what it refuses.
#include "update_feed.hpp"

#include "test_files.hpp"

#include <functional>
#include <string>
#include <vector>

namespace {

std::string readAll(const boost::filesystem::path& path) {
    std::ifstream in(path.string(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FeedFolder : public ScratchDirTest {
protected:
    // This build's manifest of the app folder as it stands, with its text.
    FeedManifest version(const std::string& number, int64_t released, std::string& text,
                         std::vector<std::string>& sources) {
        SetupOptions options;
        options.id = "Example.Notes";
        options.version = number;
        options.exe = "Notes.exe";
        FeedManifest manifest;
        EXPECT_EQ(packageManifest(options, path("app"), path("Notes.exe"),
                                  {{"lib", true}, {"lib/a.jar", false}, {"lib/b.jar", false}}, released, manifest,
                                  sources),
                  "");
        text = feedManifestText(manifest);
        return manifest;
    }

    std::string publish(const FeedManifest& manifest, const std::string& text, const std::vector<std::string>& sources) {
        FeedChange change;
        return publishVersion(path("feed"), manifest, text, "signature of " + text, sources, change);
    }
};

TEST_F(FeedFolder, AVersionGoesInOnlyWhenNewerOrAsItWas) {
    enum Top { candidate, first, cutOff };  // at the top afterwards: this build's, 1.0's, the cut-off run's
    const struct {
        const char* what;
        std::string number;
        // After 1.0 went in: the app folder and feed, given the text a cut-off run of this version wrote.
        std::function<void(const boost::filesystem::path& app, const boost::filesystem::path& feed,
                           const std::string& earlier)> before;
        std::string problem;
        Top top;
    } rows[] = {
        {"a newer version", "1.1", nullptr, "", candidate},
        {"the same version and files again", "1.0", nullptr, "", first},
        {"the same version with another jar", "1.0",
         [](const boost::filesystem::path& app, const boost::filesystem::path&, const std::string&) {
             writeFile(app / "lib/a.jar", "PK changed");
         },
         "the feed FEED holds version 1.0 already, with other files; give this build a new --version", first},
        {"an older version", "0.9", nullptr,
         "the feed FEED holds version 1.0, newer than 0.9, and customers never go back; give this build a version "
         "above 1.0",
         first},
        {"a stored file with other bytes", "1.1",
         [](const boost::filesystem::path&, const boost::filesystem::path& feed, const std::string&) {
             for (auto& stored : boost::filesystem::directory_iterator(feed / "files")) {
                 writeFile(stored.path(), "damaged");
             }
         },
         "does not hold the bytes its name says", first},
        {"a run cut off before the top", "1.1",
         [](const boost::filesystem::path&, const boost::filesystem::path& feed, const std::string& earlier) {
             writeFile(feed / "versions/1.1/manifest.txt", earlier);
             writeFile(feed / "versions/1.1/manifest.sig", "signature of " + earlier);
         },
         "", cutOff},
    };
    for (const auto& row : rows) {
        boost::filesystem::remove_all(dir);
        writeFile(dir / "app/lib/a.jar", "PK a");
        writeFile(dir / "app/lib/b.jar", "PK b");
        writeFile(dir / "Notes.exe", "MZ");
        std::string firstText, earlier, text;
        std::vector<std::string> sources;
        ASSERT_EQ(publish(version("1.0", 1000, firstText, sources), firstText, sources), "");
        version(row.number, 2000, earlier, sources);
        if (row.before) {
            row.before(dir / "app", dir / "feed", earlier);
        }
        FeedManifest manifest = version(row.number, 3000, text, sources);
        std::string problem = publish(manifest, text, sources);
        for (size_t at = problem.find(path("feed")); at != std::string::npos; at = problem.find(path("feed"))) {
            problem.replace(at, path("feed").size(), "FEED");
        }
        EXPECT_EQ(problem.empty(), row.problem.empty()) << row.what << ": " << problem;
        EXPECT_NE(problem.find(row.problem), std::string::npos) << row.what << ": " << problem;
        std::string top = readAll(dir / "feed/manifest.txt");
        EXPECT_EQ(top, row.top == candidate ? text : row.top == first ? firstText : earlier) << row.what;
        EXPECT_EQ(readAll(dir / "feed/manifest.sig"), "signature of " + top) << row.what;
    }
}

}  // namespace
