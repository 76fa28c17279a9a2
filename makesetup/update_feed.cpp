#include "update_feed.hpp"

#include "nsis_script.hpp"

#include "base_win.hpp"
#include "const.hpp"
#include "java.hpp"
#include "update_files.hpp"

#include "pe_image.hpp"
#include "windows_name.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = boost::filesystem;

namespace {

const int keyBits = 3072;
const int64_t secondsPerDay = 86400;

using KeyPointer = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using BioPointer = std::unique_ptr<BIO, decltype(&BIO_free)>;

// No passphrase is ever asked for: an encrypted key is not read.
int noPassphrase(char*, int, int, void*) {
    return 0;
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::string readText(const std::string& path, std::string& text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    text.clear();
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? "read error" : "";
}

// Reads the key in file: a private key, or when publicAllowed also a public one.
std::string loadKey(const std::string& file, bool publicAllowed, KeyPointer& key) {
    std::string pem;
    std::string problem = readText(file, pem);
    if (!problem.empty()) {
        return "cannot read the key " + file + " (" + problem + "); give the key file makesetup --new-key made";
    }
    BioPointer bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
    if (!key && publicAllowed) {
        bio.reset(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
        key.reset(PEM_read_bio_PUBKEY(bio.get(), nullptr, noPassphrase, nullptr));
    }
    if (!key) {
        return file + " holds no " + std::string(publicAllowed ? "" : "private ") +
               "key makesetup can read (a PEM file without a passphrase, as makesetup --new-key writes); give such a key";
    }
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA || EVP_PKEY_get_bits(key.get()) < keyBits) {
        return "the key in " + file + " is not an RSA key of at least " + std::to_string(keyBits) +
               " bits, which update.exe needs; make one with makesetup --new-key";
    }
    return "";
}

std::string sha256Of(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char hexDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += hexDigits[digest[i] >> 4];
        hex += hexDigits[digest[i] & 15];
    }
    return hex;
}

// Writes bytes to a new file beside path, on disk when it returns, and names it in temporary.
std::string writeTemporary(const std::string& path, const std::string& bytes, mode_t mode, std::string& temporary) {
    fs::path target(path);
    std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    std::string pattern = folder + "/." + target.filename().string() + ".makesetup-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        return "cannot write in " + folder + " (" + std::strerror(errno) + ")";
    }
    temporary = name.data();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        done += static_cast<size_t>(written);
    }
    bool whole = done == bytes.size() && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 || !whole) {
        std::remove(temporary.c_str());
        return "cannot write " + path + " (" + std::strerror(whole ? errno : error) + ")";
    }
    return "";
}

// Writes path whole: a new file, then renamed over path, or linked as path
// when replace is false, so that an existing path stays as it was.
std::string writeWhole(const std::string& path, const std::string& bytes, mode_t mode, bool replace) {
    std::string temporary;
    std::string problem = writeTemporary(path, bytes, mode, temporary);
    if (!problem.empty()) {
        return problem;
    }
    int status = replace ? std::rename(temporary.c_str(), path.c_str()) : link(temporary.c_str(), path.c_str());
    int error = errno;
    if (!replace || status != 0) {
        std::remove(temporary.c_str());
    }
    if (status != 0) {
        return error == EEXIST ? path + " exists already; choose another name or remove it"
                               : "cannot write " + path + " (" + std::strerror(error) + ")";
    }
    return "";
}

std::string windowsPath(std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return relative;
}

// Two manifests of one version with the same files: a build of it again.
bool sameContent(const FeedManifest& a, const FeedManifest& b) {
    auto sameFile = [](const FeedFile& x, const FeedFile& y) {
        return x.path == y.path && x.size == y.size && x.sha256 == y.sha256;
    };
    FeedManifest sorted[2] = {a, b};
    for (FeedManifest& manifest : sorted) {
        std::sort(manifest.files.begin(), manifest.files.end(),
                  [](const FeedFile& x, const FeedFile& y) { return x.path < y.path; });
    }
    return a.product == b.product && compareVersions(a.version, b.version) == 0 && a.codeFolders == b.codeFolders &&
           std::equal(sorted[0].files.begin(), sorted[0].files.end(), sorted[1].files.begin(), sorted[1].files.end(),
                      sameFile);
}

}  // namespace

std::string publicKeyFileOf(const std::string& privateKeyFile) {
    return privateKeyFile + ".pub.pem";
}

std::string makeSigningKey(const std::string& privateKeyFile) {
    std::string publicFile = publicKeyFileOf(privateKeyFile);
    for (const std::string& file : {privateKeyFile, publicFile}) {
        boost::system::error_code error;
        if (fs::exists(fs::symlink_status(file, error))) {
            return file + " exists already; a key is never overwritten, so give a new file name";
        }
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr),
                                                                       EVP_PKEY_CTX_free);
    EVP_PKEY* made = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), keyBits) <= 0 || EVP_PKEY_keygen(context.get(), &made) <= 0) {
        return "OpenSSL could not make an RSA key";
    }
    KeyPointer key(made, EVP_PKEY_free);
    BioPointer privatePem(BIO_new(BIO_s_mem()), BIO_free);
    BioPointer publicPem(BIO_new(BIO_s_mem()), BIO_free);
    if (PEM_write_bio_PrivateKey(privatePem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_PUBKEY(publicPem.get(), key.get()) != 1) {
        return "OpenSSL could not write the key";
    }
    std::string problem = writeWhole(privateKeyFile, bioText(privatePem.get()), 0600, false);
    if (problem.empty()) {
        problem = writeWhole(publicFile, bioText(publicPem.get()), 0644, false);
        if (!problem.empty()) {
            std::remove(privateKeyFile.c_str());
        }
    }
    return problem;
}

static std::string readPublicKey(const std::string& keyFile, std::string& pem) {
    KeyPointer key(nullptr, EVP_PKEY_free);
    std::string problem = loadKey(keyFile, true, key);
    if (!problem.empty()) {
        return problem;
    }
    BioPointer bio(BIO_new(BIO_s_mem()), BIO_free);
    if (PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1) {
        return "OpenSSL could not write the public key of " + keyFile;
    }
    pem = bioText(bio.get());
    return "";
}

std::string signText(const std::string& keyFile, const std::string& text, std::string& signature) {
    KeyPointer key(nullptr, EVP_PKEY_free);
    std::string problem = loadKey(keyFile, false, key);
    if (!problem.empty()) {
        return problem;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size_t length = 0;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, data, text.size()) != 1) {
        return "OpenSSL could not sign with " + keyFile;
    }
    signature.assign(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&signature[0]), &length, data, text.size()) != 1) {
        return "OpenSSL could not sign with " + keyFile;
    }
    signature.resize(length);
    return "";
}

static std::string hashFile(const std::string& path, std::string& hex, int64_t& size) {
    std::string bytes;
    std::string problem = readText(path, bytes);
    if (!problem.empty()) {
        return "cannot read " + path + " (" + problem + ")";
    }
    hex = sha256Of(bytes);
    size = static_cast<int64_t>(bytes.size());
    return "";
}

std::string addUpdaterFiles(const SetupOptions& options, const std::string& updateExe, const std::string& folder,
                            std::vector<AppEntry>& entries) {
    // Everything in the app folder goes to every customer.
    boost::system::error_code error;
    fs::path app = fs::canonical(options.appDir, error);
    for (const auto& given : {std::make_pair("--update-key", options.updateKey),
                              std::make_pair("--rotate-key", options.rotateKey), std::make_pair("--feed", options.feed)}) {
        fs::path path = fs::weakly_canonical(given.second, error);
        auto inside = std::mismatch(app.begin(), app.end(), path.begin(), path.end());
        if (!given.second.empty() && !error && inside.first == app.end()) {
            return std::string(given.first) + " " + given.second + " is inside the app folder, which is installed "
                   "whole on your customers' machines; keep it outside " + options.appDir;
        }
    }
    const std::string bootFile = updaterBootFileOf("");
    for (const AppEntry& entry : entries) {
        if (sameWindowsName(entry.relative, bootFile)) {
            return "the app folder has an updater of its own (" + entry.relative + "), and --update-url puts "
                   "update.exe in its place; leave out --update-url to ship your updater, or remove " + entry.relative +
                   " to ship update.exe";
        }
    }
    KeyPointer signingKey(nullptr, EVP_PKEY_free);
    std::string problem = loadKey(options.updateKey, false, signingKey);
    std::string publicKey;
    if (problem.empty()) {
        problem = readPublicKey(options.rotateKey.empty() ? options.updateKey : options.rotateKey, publicKey);
    }
    std::string program;
    std::string unread = problem.empty() ? readText(updateExe, program) : "";
    if (!unread.empty()) {
        problem = "cannot read the updater " + updateExe + " (" + unread + "); give it with --update-exe";
    }
    PeHeaders headers;
    if (problem.empty() && readPeHeaders(std::vector<uint8_t>(program.begin(), program.end()), headers) != peImage) {
        problem = updateExe + " is not a Windows program; give the release's update.exe with --update-exe";
    }
    if (!problem.empty()) {
        return problem;
    }
    // The launcher starts update.exe through the updater's boot file as it
    // would start java, with the JVM's words around it; update.exe ignores
    // the words it does not know. They are given plain values, so that
    // bootcheck finds nothing to say about the file.
    std::string boot = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!-- Written by makesetup: the launcher runs update.exe, the updater, through this file. -->\n"
                       "<boot>\n";
    const std::pair<std::string, std::string> items[] = {
        {jop_java, REP_APP_DIR + windowsPath(updateProgramName)}, {jop_Xmn, "1m"}, {jop_Xms, "1m"}, {jop_Xmx, "16m"},
        {jop_cp, "."}, {jop_main, "update"}};
    for (const auto& item : items) {
        boot += "  <item key=\"" + item.first + "\" value=\"" + item.second + "\"/>\n";
    }
    boot += "</boot>\n";
    const std::pair<std::string, std::string> files[] = {{updateProgramName, program},
                                                         {bootFile, boot},
                                                         {updateKeyName, publicKey},
                                                         {updateUrlName, options.updateUrl + "\n"},
                                                         {updateInstalledName, ""}};
    for (const AppEntry& entry : entries) {
        if (isUpdateOwnFile(entry.relative)) {
            return "the app folder holds " + entry.relative + ", which update.exe writes as it works; remove it from "
                   "the app folder";
        }
    }
    for (const auto& file : files) {
        for (const AppEntry& entry : entries) {
            if (sameWindowsName(entry.relative, file.first) ||
                (!entry.folder &&
                 sameWindowsName(file.first.substr(0, entry.relative.size() + 1), entry.relative + "/"))) {
                return "the app folder holds " + entry.relative + ", where --update-url puts " + file.first +
                       "; remove it from the app folder";
            }
        }
        std::string source = folder + "/" + file.first;
        fs::create_directories(fs::path(source).parent_path(), error);
        problem = error ? "cannot write in " + folder + " (" + error.message() + ")"
                        : writeWhole(source, file.second, 0644, true);
        if (!problem.empty()) {
            return problem;
        }
        for (size_t slash = file.first.find('/'); slash != std::string::npos; slash = file.first.find('/', slash + 1)) {
            std::string above = file.first.substr(0, slash);
            if (std::none_of(entries.begin(), entries.end(),
                             [&above](const AppEntry& entry) { return sameWindowsName(entry.relative, above); })) {
                entries.push_back({above, true});
            }
        }
        entries.push_back({file.first, false, source});
    }
    std::sort(entries.begin(), entries.end(),
              [](const AppEntry& a, const AppEntry& b) { return a.relative < b.relative; });
    return "";
}

std::string releaseTime(int64_t& seconds) {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch == nullptr || *epoch == '\0') {
        seconds = static_cast<int64_t>(std::time(nullptr));
        return "";
    }
    std::string text = epoch;
    seconds = text.size() <= 11 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })
                  ? std::stoll(text)
                  : -1;
    if (seconds < 0 || utcTimeText(seconds).empty()) {
        return "SOURCE_DATE_EPOCH \"" + text + "\" is not a number of seconds since 1970; set it to one, such as "
               "the time of your last commit (git log -1 --format=%ct)";
    }
    return "";
}

std::string packageManifest(const SetupOptions& options, const std::string& appDir, const std::string& brandedExe,
                            const std::vector<AppEntry>& entries, int64_t released, FeedManifest& manifest,
                            std::vector<std::string>& sources) {
    manifest = FeedManifest();
    manifest.product = options.id;
    manifest.version = options.version;
    manifest.released = released;
    manifest.expires = released + options.expiresDays * secondsPerDay;
    manifest.codeFolders = codeFolders(options, entries);
    std::vector<std::pair<std::string, std::string>> files = {{options.exe, brandedExe}};
    for (const AppEntry& entry : entries) {
        if (!entry.folder && entry.relative != updateInstalledName) {
            files.push_back({entry.relative, entry.source.empty() ? appDir + "/" + entry.relative : entry.source});
        }
    }
    sources.clear();
    for (const auto& file : files) {
        FeedFile described;
        described.path = file.first;
        std::string problem = hashFile(file.second, described.sha256, described.size);
        if (!problem.empty()) {
            return problem;
        }
        manifest.files.push_back(described);
        sources.push_back(file.second);
    }
    // What update reads must be what makesetup writes.
    FeedManifest check;
    std::string problem = readFeedManifest(feedManifestText(manifest), check);
    return problem.empty() ? "" : "this version's manifest cannot be read back (" + problem + ")";
}

std::string writeInstalledRecord(const std::string& folder, const std::string& text) {
    return writeWhole(folder + "/" + updateInstalledName, text, 0644, true);
}

static std::string publishLocked(const std::string& folder, const FeedManifest& manifest, const std::string& text,
                                 const std::string& signature, const std::vector<std::string>& sources,
                                 FeedChange& change) {
    const std::string top = folder + "/" + feedManifestName;
    const std::string topSignature = folder + "/" + feedSignatureName;
    const std::string versionFolder = folder + "/versions/" + manifest.version;
    const std::string files = folder + "/" + feedFilesFolder;
    boost::system::error_code error;

    // The feed's newest version, and this version as the feed has it already.
    FeedManifest newest, published;
    std::string newestText, publishedText, publishedSignature;
    bool hasNewest = fs::exists(top, error);
    std::string problem = hasNewest ? readText(top, newestText) : "";
    if (problem.empty() && hasNewest) {
        problem = readFeedManifest(newestText, newest);
    }
    if (!problem.empty()) {
        return top + " is not a manifest makesetup can read (" + problem + "); give the feed folder of this product";
    }
    if (hasNewest && newest.product != manifest.product) {
        return "the feed " + folder + " is of another product (id " + newest.product + ", this one's is " +
               manifest.product + "); give each product a feed folder of its own";
    }
    bool isPublished = fs::exists(versionFolder + "/" + feedManifestName, error);
    if (isPublished) {
        problem = readText(versionFolder + "/" + feedManifestName, publishedText);
        if (problem.empty()) {
            problem = readText(versionFolder + "/" + feedSignatureName, publishedSignature);
        }
        if (problem.empty()) {
            problem = readFeedManifest(publishedText, published);
        }
        if (!problem.empty()) {
            return "the feed's copy of " + manifest.version + " in " + versionFolder + " cannot be read (" + problem +
                   "); remove that folder and run again";
        }
    } else if (hasNewest && compareVersions(newest.version, manifest.version) == 0) {
        isPublished = true;
        published = newest;
        publishedText = newestText;
        problem = readText(topSignature, publishedSignature);
        if (!problem.empty()) {
            return "cannot read " + topSignature + " (" + problem + "); the feed is broken: publish a new version";
        }
    }
    if (isPublished && !sameContent(published, manifest)) {
        return "the feed " + folder + " holds version " + manifest.version + " already, with other files; give this "
               "build a new --version";
    }
    bool newer = !hasNewest || compareVersions(manifest.version, newest.version) > 0;
    if (!isPublished && !newer) {
        return "the feed " + folder + " holds version " + newest.version + ", newer than " + manifest.version +
               ", and customers never go back; give this build a version above " + newest.version;
    }

    // Each file once, under its hash; one that is there already must hold what its name says.
    size_t added = 0;
    int64_t addedBytes = 0;
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        const FeedFile& file = manifest.files[i];
        std::string stored = files + "/" + file.sha256;
        if (fs::exists(stored, error)) {
            std::string hex;
            int64_t size = 0;
            problem = hashFile(stored, hex, size);
            if (problem.empty() && hex != file.sha256) {
                problem = stored + " does not hold the bytes its name says (their SHA-256 is " + hex +
                          "); remove it and run again";
            }
            if (!problem.empty()) {
                return problem;
            }
            continue;
        }
        std::string bytes;
        problem = readText(sources[i], bytes);
        if (!problem.empty() || sha256Of(bytes) != file.sha256) {
            return sources[i] +
                   (problem.empty() ? " changed while makesetup read it" : " cannot be read (" + problem + ")") +
                   "; run again";
        }
        problem = writeWhole(stored, bytes, 0644, true);
        if (!problem.empty()) {
            return problem;
        }
        ++added;
        addedBytes += file.size;
    }

    // The signed manifest as first published stays the version's; a new one gets its copy first.
    const std::string& finalText = isPublished ? publishedText : text;
    const std::string& finalSignature = isPublished ? publishedSignature : signature;
    for (const auto& file :
         {std::make_pair(feedSignatureName, &finalSignature), std::make_pair(feedManifestName, &finalText)}) {
        problem = writeWhole(versionFolder + "/" + file.first, *file.second, 0644, true);
        if (!problem.empty()) {
            return problem;
        }
    }
    if (newer) {
        // Both written whole under temporary names first, then renamed back
        // to back in the order update fetches them: the signature, then the
        // manifest. Only a reader whose two requests straddle the renames
        // gets a pair that does not match; the signature check refuses it as
        // any broken download, and its next check gets the new pair.
        std::string signatureTemporary, manifestTemporary;
        problem = writeTemporary(topSignature, finalSignature, 0644, signatureTemporary);
        if (problem.empty()) {
            problem = writeTemporary(top, finalText, 0644, manifestTemporary);
        }
        if (problem.empty() && (std::rename(signatureTemporary.c_str(), topSignature.c_str()) != 0 ||
                                std::rename(manifestTemporary.c_str(), top.c_str()) != 0)) {
            problem = "cannot write " + top + " (" + std::strerror(errno) + ")";
        }
        for (const std::string& temporary : {signatureTemporary, manifestTemporary}) {
            if (!temporary.empty()) {
                std::remove(temporary.c_str());
            }
        }
        if (!problem.empty()) {
            return problem;
        }
    }
    change.wasThere = isPublished;
    change.newFiles = added;
    change.newBytes = addedBytes;
    change.newest = newer ? manifest.version : newest.version;
    return "";
}

std::string publishVersion(const std::string& folder, const FeedManifest& manifest, const std::string& text,
                           const std::string& signature, const std::vector<std::string>& sources, FeedChange& change) {
    boost::system::error_code error;
    fs::create_directories(folder + "/" + feedFilesFolder, error);
    if (!error) {
        fs::create_directories(folder + "/versions/" + manifest.version, error);
    }
    if (error) {
        return "cannot make the feed folder " + folder + " (" + error.message() + "); give a folder you can write to";
    }
    // One makesetup at a time adds to a feed; the lock ends with this process at the latest.
    int lock = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        std::string problem = "cannot lock the feed folder " + folder + " (" + std::strerror(errno) + ")";
        if (lock >= 0) {
            close(lock);
        }
        return problem;
    }
    std::string problem = publishLocked(folder, manifest, text, signature, sources, change);
    close(lock);
    return problem;
}
