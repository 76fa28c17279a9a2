// Bad boot files and file kinds: deep nesting, files that are not regular
// files or are too large, NUL characters in values, a FIFO as debug marker,
// and writes to a pipe nobody reads.
#include "base.hpp"
#include "base_win.hpp"
#include "boot_file_fixture.hpp"
#include "const.hpp"
#include "file.hpp"
#include "main.hpp"
#include "test_files.hpp"
#include "xml_util.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <vector>

namespace {

std::string item(const std::string& key, const std::string& value) {
    return "<item key=\"" + key + "\" value=\"" + value + "\"/>";
}

std::string repeat(const std::string& text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += text;
    }
    return out;
}

// <boot> with levels-1 elements inside one another, the innermost holding the
// java item: levels element levels in all.
std::string nested(size_t levels) {
    return "<boot>\n" + repeat("<a>", levels - 1) + item("java", "J") + repeat("</a>", levels - 1) +
           "</boot>\n";
}

// What read throws, "" when nothing; the path line the reader logs is dropped.
std::string errorOf(const std::function<void()>& read) {
    std::string error;
    testing::internal::CaptureStdout();
    try {
        read();
    } catch (const std::exception& e) {
        error = e.what();
    }
    testing::internal::GetCapturedStdout();
    return error;
}

std::string readError(const std::string& filePath) {
    return errorOf([&] { readConfigXml(filePath); });
}

// Runs call on another thread; a call still blocked after a few seconds is
// released by release() and fails the test, instead of hanging it.
template <typename Result>
Result withoutBlocking(const std::function<Result()>& call, const std::function<void()>& release) {
    std::future<Result> result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "blocked";
        release();
    }
    return result.get();
}

// Opening a FIFO for reading blocks until a writer comes; be that writer.
void openAsWriter(const std::string& fifo) {
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
        close(fd);
    }
}

class HostileBootFile : public BootFileTest {
protected:
    void SetUp() override {
        BootFileTest::SetUp();
        bootPath = path("boot.xml");
    }
    std::string bootPath;
};

struct NestingCase {
    const char* name;
    std::string content;
    std::string error;  // "" when the file reads
};

TEST_F(HostileBootFile, ElementsNestDeeperThanTheLimitAreRefusedBeforeParsing) {
    const std::string tooDeep = "elements nested deeper than 256 levels";
    const std::string deepText = repeat("<a>", 100000);
    const std::vector<NestingCase> cases = {
        {"exactly the limit", nested(maxBootFileNesting), ""},
        {"one level more", nested(maxBootFileNesting + 1), "(2): " + tooDeep},
        {"far deeper, as a stack overflow would need", nested(100000), "(2): " + tooDeep},
        {"deep but broken further on", "<boot>\n\n" + deepText, "(3): " + tooDeep},
        {"line of the first start tag too deep",
         "<boot>" + repeat("<a>\n", maxBootFileNesting - 1) + "<b>" + repeat("<c>", 9) + "</boot>",
         "(256): " + tooDeep},
        {"after a byte-order mark", "\xEF\xBB\xBF" + nested(maxBootFileNesting + 1), "(2): " + tooDeep},
        {"attributes, blanks and single quotes in the tags",
         "<boot>" + repeat("<a x='1' y = \"/>\" >", maxBootFileNesting) + "</boot>", "(1): " + tooDeep},
        {"closing tags with blanks close",
         "<boot>" + repeat("<a></a >", 100000) + item("java", "J") + "</boot>", ""},
        {"self-closing elements do not nest", "<boot>" + repeat("<a/><b k='v'/>", 50000) + "</boot>", ""},
        {"inside a comment", "<boot><!--" + deepText + "-->" + item("java", "J") + "</boot>", ""},
        {"inside CDATA", "<boot><![CDATA[" + deepText + "]]></boot>", ""},
        {"inside a processing instruction", "<?pi " + deepText + "?><boot/>", ""},
        {"inside the declaration", "<?xml " + deepText + "?><boot/>", ""},
        {"inside a doctype with brackets", "<!DOCTYPE boot [" + deepText + "> ]><boot/>", ""},
        {"another <! node ends at its first >", "<!ELEMENT x <a>" + nested(maxBootFileNesting + 1),
         "(2): " + tooDeep},
        {"inside attribute values", "<boot v=\"" + deepText + "\" w='" + deepText + "'/>", ""},
        {"text between siblings", "<boot>" + repeat("x<a>y</a>z", 1000) + "</boot>", ""},
        {"end tags need not match", "<boot>" + repeat("<a></b>", 1000) + "</c>", ""},
        {"a bare < in a start tag name opens nothing more",
         "<boot>" + repeat("<a<b>", maxBootFileNesting) + "</boot>", "(1): " + tooDeep},
    };
    for (const NestingCase& c : cases) {
        writeFile(dir / "boot.xml", c.content);
        EXPECT_EQ(readError(bootPath), c.error.empty() ? "" : bootPath + c.error) << c.name;
    }
}

TEST_F(HostileBootFile, AFileTooDeepFailsTheLaunchAndKeepsTheCommandLine) {
    writeFile(dir / "boot.xml", nested(100000));
    EXPECT_EQ(errorOf([&] { readBootXml(bootPath); }),
              bootPath + "(2): elements nested deeper than 256 levels");
    EXPECT_EQ(javaCommandLine, "previous");
}

TEST_F(HostileBootFile, OnlyRegularFilesUpToTheSizeLimitAreRead) {
    const std::string valid = nested(2);
    // The valid file, filled up to size bytes with a comment.
    auto padded = [&](size_t size) {
        return valid + "<!--" + std::string(size - valid.size() - 7, 'x') + "-->";
    };
    writeFile(dir / "target.xml", valid);
    boost::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);

    struct KindCase {
        const char* name;
        std::function<void()> make;
        std::string error;
    };
    const std::vector<KindCase> cases = {
        {"link to a regular file",
         [&] { boost::filesystem::create_symlink(dir / "target.xml", bootPath); }, ""},
        {"exactly the size limit",
         [&] { writeFile(bootPath, padded(maxBootFileSize)); }, ""},
        {"one byte over the limit",
         [&] { writeFile(bootPath, padded(maxBootFileSize + 1)); },
         ": larger than 1048576 bytes"},
        {"link to /dev/zero", [&] { boost::filesystem::create_symlink("/dev/zero", bootPath); },
         ": not a regular file"},
        {"link to /dev/null", [&] { boost::filesystem::create_symlink("/dev/null", bootPath); },
         ": not a regular file"},
        {"directory", [&] { boost::filesystem::create_directory(bootPath); }, ": not a regular file"},
        {"FIFO", [&] { mkfifo(bootPath.c_str(), 0600); }, ": not a regular file"},
        {"link to a FIFO", [&] { boost::filesystem::create_symlink(dir / "fifo", bootPath); },
         ": not a regular file"},
        {"missing", [] {}, ": cannot open file"},
    };
    for (const KindCase& c : cases) {
        boost::filesystem::remove_all(bootPath);
        c.make();
        std::string error = withoutBlocking<std::string>([&] { return readError(bootPath); },
                                                         [&] {
                                                             openAsWriter(path("fifo"));
                                                             openAsWriter(bootPath);
                                                         });
        EXPECT_EQ(error, c.error.empty() ? "" : bootPath + c.error) << c.name;
    }
}

TEST_F(HostileBootFile, WantedValuesHoldingANulCharacterFailTheFile) {
    struct NulCase {
        const char* name;
        std::string items;
        std::string error;  // "" when the file gives a command line
    };
    const std::vector<NulCase> cases = {
        {"&#0; in java", item("java", "/usr/bin/java&#0; x") + item("main", "M"),
         "value of item \"java\" holds a NUL character"},
        {"&#; in main", item("main", "M&#;"), "value of item \"main\" holds a NUL character"},
        {"&#x; in args", item("args", "&#x;"), "value of item \"args\" holds a NUL character"},
        {"&#x0000; in -cp", item("-cp", "a&#x0000;b"), "value of item \"-cp\" holds a NUL character"},
        {"in an item a later one overrides", item("-Xmx", "1g&#0;") + item("-Xmx", "2g"),
         "value of item \"-Xmx\" holds a NUL character"},
        {"in an item nobody asks for", item("note", "&#0;") + item("java", "J"), ""},
        {"in a key, which then matches nothing", item("ja&#0;va", "K") + item("java", "J"), ""},
    };
    for (const NulCase& c : cases) {
        writeFile(dir / "boot.xml", "<boot>" + c.items + "</boot>");
        javaCommandLine = "previous";
        EXPECT_EQ(errorOf([&] { readBootXml(bootPath); }), c.error) << c.name;
        EXPECT_EQ(javaCommandLine, c.error.empty() ? "J -Xmn -Xms -Xmx -cp   " : "previous") << c.name;
    }
}

class DebugProbe : public ScratchDirTest {
protected:
    int probe(const std::string& name) {
        return withoutBlocking<int>([&] { return fileExistsAt(path(name)); },
                                    [&] { openAsWriter(path(name)); });
    }
};

TEST_F(DebugProbe, OnlyARegularFileIsTheMarker) {
    writeFile(dir / "file", "");
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    boost::filesystem::create_symlink("/dev/zero", dir / "zero");
    boost::filesystem::create_symlink(dir / "file", dir / "link");
    boost::filesystem::create_symlink(dir / "fifo", dir / "fifolink");
    EXPECT_EQ(probe("file"), TRUE);
    EXPECT_EQ(probe("link"), TRUE);
    EXPECT_EQ(probe("fifo"), FALSE);
    EXPECT_EQ(probe("fifolink"), FALSE);
    EXPECT_EQ(probe("zero"), FALSE);
}

TEST(ClosedPipe, AWriteFailsInsteadOfEndingTheProcess) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    errno = 0;
    EXPECT_EQ(write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(fds[1]);
}

}  // namespace
