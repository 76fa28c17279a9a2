// update's operating-system side, natively and under Wine: hashes, the
// signature check, and the file moves a swap relies on.
#include "platform.hpp"
#include "test_files.hpp"

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// Made with the openssl command line: genpkey -algorithm RSA -pkeyopt
// rsa_keygen_bits:3072 (keys A and B), pkey -pubout (A's public key), and
// dgst -sha256 -sign over signedText (each key's signature, in hex).
const char publicKeyA[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MIIBojANBgkqhkiG9w0BAQEFAAOCAY8AMIIBigKCAYEAnqR39cqpAHkW9QOeAaZI\n"
    "CKGMsgrB7cYaetHQHHl8AliXY02CssuoBbidi46UhvK2oa3Iqer1wmV/C+ftcy05\n"
    "IDKP6KO5o9tX+2VcxcWJBSEAFxKZKRSoY1LkggXvJ5wK9wqp9Cqdixlx8ij5lCmq\n"
    "HB8nvU8WuvDb2hW0XnrL74hvqmm2ZS9WbDr+cyQxq2bpF3xMp/XrfgDT+4xD+VIE\n"
    "1lwJZizhNSC1ZD+nffcalrOlv02T6VC61wUoK913WHteFWYlgjQeFUjdu04dN7oJ\n"
    "IwJVknMlOOi2rlYb341ora/nfK/Ye5uWvkLra0eBpUx0AbLHt72zbwHbQ4grSmV/\n"
    "LHu7A4r2NN64xS0vK2caOI6dzXwRBtlfLZEWySFuab//mfBQfLwxwKU2ZvsKZAJM\n"
    "nFNpZh0GF3eYWuLT+7FQZbSsNSGUop0rIHB3Sft8lUH7IDCzwakz8xXrysChLUYM\n"
    "+wXjyCej5WTO61D1lMp8XFAOJT34CY1fPGKNRH3dSO2xAgMBAAE=\n"
    "-----END PUBLIC KEY-----\n";
const char signedText[] = "version 2.0.0\n";
const char signatureByA[] =
    "15c01de637db7015eb18eea00df94e5f69f9f70dd99248e35fdac63016681b0cb58a7671838705f8ff1366e447e4cde3"
    "ff2a028309be397e6519b4897346b73f697070870c2f8273098b766f32e3664d9861064d4c6c7e86d58a21b515350c19"
    "51aaf8868d3b30bc74db3da3be24a6022749da932160841ae8cac0f8ba986602fe490cbe5ee918df365f7912e960376b"
    "d6ece30d4fe7d2220db9636922ea3401bbe3add2b968b39ad41598e3d8b87732b0720e8a7863569cc24b24a1f09ce89e"
    "adc0c9ea24bf189b9582d0b95b997bda66c199769117138fedf128028060932897c216e6caa9eb32687b2c22bb1223f2"
    "19cade72c09c8b3450f8cf2b87add8bd9b4b28b9767b84b69734d599d64be4aea569567028f3a41c9e525debecfd9af6"
    "76e2f693760cbf7caab90d77a6fb675baf75a795c841efcb1701a8f43dfade1270985a4809043178e51e6877e15ca8b4"
    "cb5a53140e49a57093152a709cc303e3d45df682f75418227aa5b4b4989fdae761d95755b9286303bb17dbe64ac01513";
const char signatureByB[] =
    "916d7aa99ea4454e120804da1478aee8faa4d7bb13651b34e7357cdff94f55391f0c3cc8de6e03c083d4c79bef9c85ed"
    "71186a7f39bf9f01e33248a975a5b125cfaf03cb10b1bff39381f6bff627bf983bc6a50a601c9bb3ace6ef83c035a632"
    "62f8b7784578cfe6a7c9cfd5d80894eb4da047fcd5169e058da9bb943e659287452d6704c8895cb6aebc2a834caef418"
    "834dd4d26caae194c36017ce222e65cfd06f9462646d7f8f76ddd1af17478153c95d19eedd2e4114c6f5301ab747cf46"
    "4ac082bbfb370102fe1679c95cd546a1141da59a6122f8cb3ec655a143c7a307a356127c7e88f5f2996edcdf314228f1"
    "5041926c152ec2bbc0225efa038ae424a7f7b921301bef9adf613bce68fca16250142d85db44b13011ba57547a64b704"
    "65e63857806e5fb0ffbfc49b7681aa39582630f7129d36946aa24b527f9bf3769a29573e5c3dc459104b47d0ef715f0c"
    "d839b29187c4b3cf211d944e4dc7a28aa517548a4e33d8bdd0b59fcf9275ba702004e64c0e2b0692f36bda8ded2653b9";

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

TEST(UpdateHashes, KnownVectors) {
    const struct {
        const char* bytes;
        const char* hex;
    } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(sha256Hex(row.bytes), row.hex) << '"' << row.bytes << '"';
    }
}

TEST(UpdateSignature, OnlyKeyAsSignatureOverTheSameBytes) {
    std::string changed = signedText;
    changed[8] = '3';
    const struct {
        const char* name;
        std::string key;
        std::string data;
        std::string signature;
        bool valid;
    } rows[] = {
        {"good", publicKeyA, signedText, fromHex(signatureByA), true},
        {"one byte of the data changed", publicKeyA, changed, fromHex(signatureByA), false},
        {"signed by another key", publicKeyA, signedText, fromHex(signatureByB), false},
        {"garbage key", "-----BEGIN PUBLIC KEY-----\nbm90IGEga2V5\n-----END PUBLIC KEY-----\n", signedText,
         fromHex(signatureByA), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(signatureValid(row.key, row.data, row.signature), row.valid) << row.name;
    }
}

// Blanks and Japanese letters in every name below the scratch folder.
class UpdateFiles : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
#ifdef _WIN32
        base = wstringToUtf8(dir.wstring()) + "\\アプリ 1";
#else
        base = dir.string() + "/アプリ 1";
#endif
        ASSERT_EQ(makeFolders(at("更新 フォルダ")), "");
    }
    std::string at(const std::string& name) const {
#ifdef _WIN32
        return base + "\\" + name;
#else
        return base + "/" + name;
#endif
    }
    std::string content(const std::string& name) const {
        std::string bytes;
        readWholeFile(at(name), 1 << 20, bytes);
        return bytes;
    }
    // A symbolic link at name to target; false where this system cannot make one.
    bool makeLink(const std::string& target, const std::string& name, bool folder) {
#ifdef _WIN32
        DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
        return CreateSymbolicLinkW(utf8ToWString(at(name)).c_str(), utf8ToWString(at(target)).c_str(), flags) &&
               isLinkOrReparsePoint(at(name));
#else
        (void)folder;
        return symlink(at(target).c_str(), at(name).c_str()) == 0;
#endif
    }

    std::string base;
};

TEST_F(UpdateFiles, FileSha256IsTheHashOfTheBytes) {
    ASSERT_EQ(writeFileDurably(at("更新 フォルダ/データ.bin"), "abc"), "");
    std::string hex;
    EXPECT_EQ(fileSha256(at("更新 フォルダ/データ.bin"), hex), "");
    EXPECT_EQ(hex, sha256Hex("abc"));
}

TEST_F(UpdateFiles, MoveNeverReplaces) {
    ASSERT_EQ(writeFileDurably(at("新しい.txt"), "new"), "");
    ASSERT_EQ(writeFileDurably(at("古い.txt"), "old"), "");
    EXPECT_NE(moveFile(at("新しい.txt"), at("古い.txt"), 0), "");
    EXPECT_EQ(content("新しい.txt"), "new");
    EXPECT_EQ(content("古い.txt"), "old");
    EXPECT_EQ(moveFile(at("新しい.txt"), at("更新 フォルダ/新しい.txt"), 0), "");
    EXPECT_FALSE(pathExists(at("新しい.txt")));
    EXPECT_EQ(content("更新 フォルダ/新しい.txt"), "new");
}

#ifdef _WIN32
// A file another program holds open (a virus scanner, an editor) cannot be
// moved away on Windows; once it lets go, it can.
TEST_F(UpdateFiles, HeldFileMovesOnceReleased) {
    ASSERT_EQ(writeFileDurably(at("使用中.txt"), "held"), "");
    HANDLE held = CreateFileW(utf8ToWString(at("使用中.txt")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(moveFile(at("使用中.txt"), at("移動先.txt"), 0), "another program has it open");
    CloseHandle(held);
    EXPECT_EQ(moveFile(at("使用中.txt"), at("移動先.txt"), 0), "");
    EXPECT_EQ(content("移動先.txt"), "held");
}

// The version and size in "Apps & features", only where the installer made the entry.
TEST(UpdateRegistry, EntryUpdatedOnlyWhereItExists) {
    std::string id = "update-platform-test-" + std::to_string(GetCurrentProcessId());
    std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + utf8ToWString(id);
    EXPECT_EQ(recordInstalledVersion(id, "2.0.0", 5000), "");
    HKEY entry = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &entry), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &entry, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(recordInstalledVersion(id, "2.0.0", 5000), "");
    wchar_t version[16] = L"";
    DWORD kilobytes = 0;
    DWORD size = sizeof version;
    EXPECT_EQ(RegGetValueW(entry, nullptr, L"DisplayVersion", RRF_RT_REG_SZ, nullptr, version, &size), ERROR_SUCCESS);
    size = sizeof kilobytes;
    EXPECT_EQ(RegGetValueW(entry, nullptr, L"EstimatedSize", RRF_RT_REG_DWORD, nullptr, &kilobytes, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(version), L"2.0.0");
    EXPECT_EQ(kilobytes, 5u);
    RegCloseKey(entry);
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}
#endif

TEST_F(UpdateFiles, RemovingALinkLeavesItsTarget) {
    ASSERT_EQ(writeFileDurably(at("更新 フォルダ/中身.txt"), "kept"), "");
    if (!makeLink("更新 フォルダ", "リンク", true) || !makeLink("更新 フォルダ/中身.txt", "ファイルへのリンク", false)) {
        GTEST_SKIP() << "no symbolic links here";
    }
    EXPECT_EQ(removeFile(at("リンク"), 0), "");
    EXPECT_EQ(removeFile(at("ファイルへのリンク"), 0), "");
    EXPECT_FALSE(pathExists(at("リンク")));
    EXPECT_FALSE(pathExists(at("ファイルへのリンク")));
    EXPECT_EQ(content("更新 フォルダ/中身.txt"), "kept");
}

TEST_F(UpdateFiles, ListingNeverEntersALink) {
    ASSERT_EQ(writeFileDurably(at("ファイル.txt"), "x"), "");
    if (!makeLink("更新 フォルダ", "リンク", true)) {
        GTEST_SKIP() << "no symbolic links here";
    }
    std::vector<FolderEntry> entries;
    ASSERT_EQ(listFolder(base, entries), "");
    std::vector<std::pair<std::string, bool>> seen;
    for (const FolderEntry& entry : entries) {
        seen.push_back({entry.name, entry.folder});
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{
                        {"ファイル.txt", false}, {"リンク", false}, {"更新 フォルダ", true}}));
    EXPECT_TRUE(isLinkOrReparsePoint(at("リンク")));
    EXPECT_FALSE(isLinkOrReparsePoint(at("更新 フォルダ")));
}

}  // namespace
