#pragma once

#include "app_folder.hpp"
#include "feed_manifest.hpp"
#include "setup_options.hpp"

#include <cstdint>
#include <string>
#include <vector>

// update.exe in a package, and the feed it updates from (makesetup
// --update-url, --feed, --new-key): the updater's files, this version's
// manifest, the signing keys and the feed folder. Keys, hashes and
// signatures come from OpenSSL. Every function returns "" or the problem as
// "what is wrong; what to do".

// The public half beside a private key file made by makeSigningKey: KEY.pub.pem.
std::string publicKeyFileOf(const std::string& privateKeyFile);

// Makes an RSA key pair of 3072 bits for signing manifests: privateKeyFile
// (PEM, readable by its owner only) and publicKeyFileOf(privateKeyFile).
// Neither may exist.
std::string makeSigningKey(const std::string& privateKeyFile);

// The signature of text by the private key in keyFile: RSA PKCS #1 v1.5 over
// SHA-256, what `openssl dgst -sha256 -sign` writes.
std::string signText(const std::string& keyFile, const std::string& text, std::string& signature);

// Writes the files --update-url adds to a package below folder, at their paths
// in the app folder: update.exe (a copy of updateExe), the updater's boot
// file, the public key to ship (--rotate-key's or --update-key's: a
// private or a public key file, RSA of at least 3072 bits), the URL; and an
// empty installed record, whose
// content comes last (writeInstalledRecord). Adds their entries to entries,
// each with its source, and sorts them. The app folder must not hold these
// files, nor a boot file of its own updater.
std::string addUpdaterFiles(const SetupOptions& options, const std::string& updateExe, const std::string& folder,
                            std::vector<AppEntry>& entries);

// The release time: SOURCE_DATE_EPOCH when it is set (for reproducible
// builds), else now.
std::string releaseTime(int64_t& seconds);

// The manifest of this version: every file of entries (read from appDir or
// its source) and the branded exe (read from brandedExe), with sizes and
// hashes, all but the installed record itself; the code folders the
// installer replaces.
std::string packageManifest(const SetupOptions& options, const std::string& appDir, const std::string& brandedExe,
                            const std::vector<AppEntry>& entries, int64_t released, FeedManifest& manifest,
                            std::vector<std::string>& sources);

// Writes text as the installed record among the files addUpdaterFiles wrote below folder.
std::string writeInstalledRecord(const std::string& folder, const std::string& text);

// What adding a version changed in a feed.
struct FeedChange {
    bool wasThere = false;  // the version was in the feed already, with the same files
    size_t newFiles = 0;    // files the feed did not hold yet
    int64_t newBytes = 0;
    std::string newest;     // the feed's newest version now
};

// Adds this version to the static feed in folder: each file once under
// files/<sha256> (read from sources, one for each of manifest.files), the
// signed manifest in versions/VERSION/ and, when it is newer than the feed's,
// at the top. A version the feed holds already goes in again only with the
// same files (its signed manifest stays).
std::string publishVersion(const std::string& folder, const FeedManifest& manifest, const std::string& text,
                           const std::string& signature, const std::vector<std::string>& sources, FeedChange& change);
