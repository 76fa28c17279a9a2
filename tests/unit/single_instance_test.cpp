// One app per app folder: the request's bytes and names, the folder's id, and
// the roles a launcher takes. Natively the stand-in's mutexes are locks held
// per handle, so a second handle in this process stands for another launcher.
#include "test_files.hpp"

#include "base_win.hpp"
#include "main.hpp"
#include "process_util.hpp"
#include "single_instance.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace fs = boost::filesystem;

// A literal's bytes, NULs included.
template <size_t N>
static std::string bytesOf(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

TEST(SingleInstanceRequest, HoldsTheWorkingDirectoryThenEachArgumentEachEndedByNul) {
    struct Case {
        const char* name;
        std::wstring workingDir;
        std::vector<std::wstring> arguments;
        std::string bytes;
    };
    const Case cases[] = {
        {"no arguments", L"C:\\docs", {}, bytesOf("C:\\docs\0")},
        {"a blank and an empty one", L"D:\\x y", {L"a b", L""}, bytesOf("D:\\x y\0a b\0\0")},
        {"Japanese in UTF-8", L"C:\\", {L"\u6708\u6b21 \u5831\u544a.myrep"},
         bytesOf("C:\\\0\xe6\x9c\x88\xe6\xac\xa1 \xe5\xa0\xb1\xe5\x91\x8a.myrep\0")},
        {"quotes and backslashes as they are", L"C:\\a", {L"say \"hi\"", L"x\\\"y\\"},
         bytesOf("C:\\a\0say \"hi\"\0x\\\"y\\\0")},
        {"a character beyond the BMP", L"C:\\", {L"\U0001F600"}, bytesOf("C:\\\0\xf0\x9f\x98\x80\0")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(requestText(c.workingDir, c.arguments), c.bytes) << c.name;
    }
}

TEST(SingleInstanceRequest, NamesSortAsTheirNumbers) {
    const unsigned long long numbers[] = {1, 2, 9, 10, 11, 99, 100, 1000000, 18446744073709551615ULL};
    for (size_t i = 0; i + 1 < sizeof numbers / sizeof numbers[0]; ++i) {
        EXPECT_LT(requestName(numbers[i]), requestName(numbers[i + 1])) << numbers[i];
        EXPECT_EQ(requestNumber(requestName(numbers[i])), numbers[i]);
    }
    EXPECT_EQ(requestName(1), L"00000000000000000001.request");
}

TEST(SingleInstanceRequest, OtherNamesHaveNoNumber) {
    const wchar_t* names[] = {L"app.pid", L"counter", L"closed", L"00000000000000000001.request.partial",
                              L"0000000000000000001.request", L"0000000000000000000x.request",
                              L"00000000000000000001.REQUEST", L".request"};
    for (const wchar_t* name : names) {
        EXPECT_EQ(requestNumber(name), 0u) << wstringToUtf8(name);
    }
}

TEST(SingleInstanceFolderId, OneFolderOneIdTwoFoldersTwo) {
    struct Case {
        const char* name;
        std::wstring a;
        std::wstring b;
        bool same;
    };
    const Case cases[] = {
        {"the same path", L"C:\\Apps\\My App\\", L"C:\\Apps\\My App\\", true},
        {"another case", L"C:\\Apps\\My App\\", L"c:\\APPS\\my app\\", true},
        {"a Japanese folder in another case", L"C:\\\u30a2\u30d7\u30ea\\Abc\\", L"C:\\\u30a2\u30d7\u30ea\\aBC\\", true},
        {"a sibling", L"C:\\Apps\\My App\\", L"C:\\Apps\\My App2\\", false},
        {"a parent", L"C:\\Apps\\My App\\", L"C:\\Apps\\", false},
        {"a byte-swapped twin", L"C:\\\u3042\\", L"C:\\\u4230\\", false},
    };
    for (const Case& c : cases) {
        std::wstring a = appFolderId(c.a);
        EXPECT_EQ(a == appFolderId(c.b), c.same) << c.name;
        // Part of a mutex name, where a backslash would name a namespace.
        EXPECT_EQ(a.find_first_of(L"\\/:"), std::wstring::npos) << c.name;
        EXPECT_EQ(a.size(), 36u) << c.name;
    }
}

// An app folder with a boot file, TMPDIR for the inbox, and the lock names
// the launcher uses, so the test can play the other launcher.
class SingleInstanceRole : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        savedAppDirUtf8 = appDirUtf8;
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        savedRuntimeDir = runtime != nullptr ? runtime : "";
        appDirUtf8 = (dir / "app").string() + "/";
        writeBoot("forward");
        fs::create_directories(dir / "tmp");
        fs::create_directories(dir / "docs");
        savedCwd = fs::current_path();
        fs::current_path(dir / "docs");
        setenv("TMPDIR", (dir / "tmp").string().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir / "tmp").string().c_str(), 1);
        unsetenv("LAUNCHER_INBOX");
        std::wstring id = appFolderId(utf8ToWString(appDirUtf8));
        inbox = dir / "tmp" / ("launcher-inbox-" + wstringToUtf8(id));
        ownerLock = CreateMutexW(NULL, FALSE, (L"Local\\launcher-" + id + L"-owner").c_str());
        ASSERT_NE(ownerLock, static_cast<HANDLE>(NULL));
    }
    void TearDown() override {
        leaveAppFolder();
        CloseHandle(ownerLock);
        fs::current_path(savedCwd);
        unsetenv("TMPDIR");
        if (savedRuntimeDir.empty()) {
            unsetenv("XDG_RUNTIME_DIR");
        } else {
            setenv("XDG_RUNTIME_DIR", savedRuntimeDir.c_str(), 1);
        }
        unsetenv("LAUNCHER_INBOX");
        appDirUtf8 = savedAppDirUtf8;
        ScratchDirTest::TearDown();
    }
    void writeBoot(const std::string& value) {
        writeFile(dir / "app" / "config" / "boot.xml",
                  "<boot><item key=\"java\" value=\"java\"/><item key=\"main\" value=\"Main\"/>"
                  "<item key=\"singleInstance\" value=\"" + value + "\"/></boot>");
    }
    AppFolderRole take(const std::vector<std::wstring>& arguments = {}) {
        return takeAppFolderRole((dir / "app" / "config" / "boot.xml").string(), arguments);
    }
    std::vector<std::string> inboxFiles() {
        std::vector<std::string> names;
        for (fs::directory_iterator it(inbox), end; it != end; ++it) {
            names.push_back(it->path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // An inbox as an earlier owner made it: private to this user.
    void makeInbox() {
        fs::create_directories(inbox);
        fs::permissions(inbox, fs::owner_all);
    }
    std::string readInbox(const std::string& name) {
        std::ifstream in((inbox / name).string(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string savedAppDirUtf8;
    std::string savedRuntimeDir;
    fs::path savedCwd;
    fs::path inbox;
    HANDLE ownerLock = NULL;
};

TEST_F(SingleInstanceRole, OnlyForwardAsks) {
    const char* values[] = {"ignore", "Forward", "", "forward "};
    for (const char* value : values) {
        writeBoot(value);
        EXPECT_FALSE(singleInstanceWanted((dir / "app" / "config" / "boot.xml").string())) << value;
        EXPECT_EQ(take(), roleAlone) << value;
    }
    EXPECT_FALSE(singleInstanceWanted((dir / "missing.xml").string()));
    EXPECT_FALSE(fs::exists(inbox));
}

TEST_F(SingleInstanceRole, TheFirstOwnsAndKeepsOnlyTheRequestsAnEarlierOwnerLeft) {
    makeInbox();
    writeFile(inbox / "00000000000000000007.request", "old");
    writeFile(inbox / "00000000000000000008.request.partial", "half");
    writeFile(inbox / "closed", "");
    writeFile(inbox / "app.pid", "99");
    writeFile(inbox / "counter", "8");
    ASSERT_EQ(take(), roleOwner);
    // The request was never handled: the app finds it at its start.
    EXPECT_EQ(inboxFiles(), (std::vector<std::string>{"00000000000000000007.request", "counter"}));
    const char* variable = std::getenv("LAUNCHER_INBOX");
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(fs::path(variable), inbox);
    // Another launcher finds the folder owned.
    EXPECT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    leaveAppFolder();
    EXPECT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(inboxFiles(), (std::vector<std::string>{"00000000000000000007.request", "counter"}));
}

TEST_F(SingleInstanceRole, ALaterLauncherWritesTheNextRequest) {
    makeInbox();
    writeFile(inbox / "counter", "41");
    writeFile(inbox / "00000000000000000050.request", "unread");
    writeFile(inbox / "app.pid", "4242");
    ASSERT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(take({L"a b", L""}), roleForwarded);
    EXPECT_EQ(readInbox("00000000000000000051.request"),
              fs::current_path().string() + bytesOf("\0a b\0\0"));
    EXPECT_EQ(readInbox("counter"), "51");
    EXPECT_EQ(std::getenv("LAUNCHER_INBOX"), nullptr);
    ReleaseMutex(ownerLock);
}

TEST_F(SingleInstanceRole, ALauncherDecidingWhileTheOwnerEndsBecomesTheOwner) {
    makeInbox();
    writeFile(inbox / "closed", "");
    ASSERT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    std::thread ending([this] {
        Sleep(200);
        ReleaseMutex(ownerLock);
    });
    AppFolderRole role = take({L"doc"});
    ending.join();
    EXPECT_EQ(role, roleOwner);
    EXPECT_EQ(inboxFiles(), std::vector<std::string>{});
}

// An owner of an earlier version holds the folder while it ends; another
// launcher becomes the owner meanwhile: the waiting one forwards to it.
TEST_F(SingleInstanceRole, ALauncherWaitingForAnEndingOwnerForwardsToTheNextOne) {
    makeInbox();
    writeFile(inbox / "closed", "");
    ASSERT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    std::wstring id = appFolderId(utf8ToWString(appDirUtf8));
    HANDLE inboxLock = CreateMutexW(NULL, FALSE, (L"Local\\launcher-" + id + L"-inbox").c_str());
    HANDLE nextOwner = CreateMutexW(NULL, FALSE, (L"Local\\launcher-" + id + L"-owner").c_str());
    AppFolderRole role = roleAlone;
    std::thread waiting([this, &role] { role = take({L"doc"}); });
    // Under the inbox lock the ending owner goes and the next one takes over,
    // whenever the waiting launcher looks.
    ASSERT_EQ(WaitForSingleObject(inboxLock, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    ReleaseMutex(ownerLock);
    ASSERT_EQ(WaitForSingleObject(nextOwner, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    fs::remove(inbox / "closed");
    ReleaseMutex(inboxLock);
    waiting.join();
    EXPECT_EQ(role, roleForwarded);
    EXPECT_EQ(inboxFiles(), (std::vector<std::string>{"00000000000000000001.request", "counter"}));
    ReleaseMutex(nextOwner);
    CloseHandle(nextOwner);
    CloseHandle(inboxLock);
}

TEST_F(SingleInstanceRole, TheOwnerStartsTheAppOnceMoreForRequestsThatCameWhileItEnded) {
    struct Case {
        const char* name;
        int before;     // requests there when the app starts
        int during;     // requests that come while it runs or ends
        bool appReads;  // the app handles and deletes every request
        bool again;
    };
    const Case cases[] = {
        {"nothing came", 0, 0, false, false},
        {"the app read what came", 1, 1, true, false},
        {"a request came while the app ended", 0, 1, false, true},
        {"a request from before the app was not read", 1, 0, false, false},
        {"both", 1, 1, false, true},
    };
    for (const Case& c : cases) {
        fs::remove_all(inbox);
        int number = 0;
        auto arrive = [&](int count) {
            for (int i = 0; i < count; ++i) {
                writeFile(inbox / wstringToUtf8(requestName(++number)), "doc");
                writeFile(inbox / "counter", std::to_string(number));
            }
        };
        ASSERT_EQ(take(), roleOwner) << c.name;
        arrive(c.before);
        for (int round = 0; round < 2; ++round) {
            noteAppStarting();
            noteChildStarted(31337);
            EXPECT_EQ(readInbox("app.pid"), "31337") << c.name;
            if (round == 0) {
                arrive(c.during);
            }
            if (c.appReads) {
                for (int n = 1; n <= number; ++n) {
                    fs::remove(inbox / wstringToUtf8(requestName(n)));
                }
            }
            noteChildEnded();
            EXPECT_FALSE(fs::exists(inbox / "app.pid")) << c.name;
            bool again = requestsWaiting();
            // The restarted app finds them; what it leaves unread goes, so no loop.
            EXPECT_EQ(again, round == 0 && c.again) << c.name << " round " << round;
            if (!again) {
                break;
            }
            EXPECT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << c.name;
        }
        EXPECT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << c.name;
        ReleaseMutex(ownerLock);
        std::vector<std::string> files = inboxFiles();
        EXPECT_EQ(std::count_if(files.begin(), files.end(),
                                [](const std::string& name) { return name.find(".request") != std::string::npos; }),
                  0)
            << c.name;
    }
}

TEST_F(SingleInstanceRole, TheOwnerGivesUpTheFolderBeforeABox) {
    writeFile(dir / "app" / "config" / "boot.xml",
              "<boot><item key=\"java\" value=\"/nonexistent/java\"/><item key=\"main\" value=\"Main\"/>"
              "<item key=\"singleInstance\" value=\"forward\"/></boot>");
    ASSERT_EQ(take(), roleOwner);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int result = launchJava((dir / "app").string(), (dir / "app" / "config" / "boot.xml").string(), 1);
    testing::internal::GetCapturedStdout();
    std::string box = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 1);
    EXPECT_NE(box, "");
    EXPECT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    ReleaseMutex(ownerLock);
    EXPECT_FALSE(requestsWaiting());
}

// Another user can plant these where the temp folder is shared.
TEST_F(SingleInstanceRole, AnInboxThatIsNotPrivateIsReplacedByAFreshOne) {
    struct Case {
        const char* name;
        std::function<void()> plant;
    };
    fs::path elsewhere = dir / "elsewhere";
    const Case cases[] = {
        {"a link to another folder",
         [&] { fs::create_directory_symlink(elsewhere, inbox); }},
        {"a file", [&] { writeFile(inbox, "x"); }},
        {"a folder open to others",
         [&] {
             makeInbox();
             fs::permissions(inbox, fs::all_all);
             writeFile(inbox / "00000000000000000001.request", "planted");
         }},
        {"another user's folder",
         [&] {
             makeInbox();
             writeFile(inbox / "00000000000000000001.request", "planted");
             ASSERT_EQ(chown(inbox.c_str(), 12345, 12345), 0) << "chown needs root";
         }},
    };
    if (geteuid() != 0) {
        GTEST_SKIP() << "another user's folder needs root";
    }
    for (const Case& c : cases) {
        fs::remove_all(inbox);
        fs::remove_all(elsewhere);
        fs::create_directories(elsewhere);
        writeFile(elsewhere / "00000000000000000001.request", "planted");
        c.plant();
        ASSERT_EQ(take(), roleOwner) << c.name;
        struct stat st;
        ASSERT_EQ(lstat(inbox.c_str(), &st), 0) << c.name;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << c.name;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.name;
        EXPECT_EQ(st.st_uid, geteuid()) << c.name;
        EXPECT_EQ(inboxFiles(), std::vector<std::string>{}) << c.name;
        EXPECT_TRUE(fs::exists(elsewhere / "00000000000000000001.request")) << c.name;
        leaveAppFolder();
    }
}

// The inbox's files are opened as themselves, never through a link.
TEST_F(SingleInstanceRole, TheInboxFollowsNoLinkInIt) {
    makeInbox();
    writeFile(dir / "victim", "41");
    fs::create_symlink(dir / "victim", inbox / "counter");
    fs::create_symlink(dir / "victim", inbox / "app.pid");
    ASSERT_EQ(WaitForSingleObject(ownerLock, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(take({L"doc"}), roleForwarded);
    ReleaseMutex(ownerLock);
    EXPECT_EQ(readInbox("counter"), "1");
    std::ifstream victim((dir / "victim").string());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), std::istreambuf_iterator<char>()), "41");
}
