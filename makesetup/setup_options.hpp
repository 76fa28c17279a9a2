#pragma once

#include "windows_name.hpp"

#include <string>
#include <vector>

// A document type the installed app opens: ".myrep" and the name Explorer shows.
struct DocumentType {
    std::string extension;  // with its dot, as given
    std::string typeName;
    std::string progId;     // the registry's name for the type, derived from the product's id
};

// What makesetup was asked for, as given on its command line (UTF-8).
struct SetupOptions {
    std::string appDir;
    std::string name;
    std::string vendor;
    std::string version;
    std::string exe;        // the launcher's file name in the installed folder
    std::string launcher;   // the launcher exe to brand; "" for the release's own
    std::string icon;
    std::vector<DocumentType> documents;
    std::string id;         // "" until given or derived
    std::string copyright;
    std::string signCommand;
    std::string arch = "x86";
    std::string output;     // "" for NAME-VERSION-setup.exe in the current folder
    std::vector<std::string> keep;     // top folders an upgrade keeps, though they hold code
    std::vector<std::string> replace;  // top folders an upgrade replaces whole, though they hold none
    std::string script;     // "" to build the installer, else where to write its script instead
    std::string otherShortcut;  // the Start menu name when another product's shortcut has NAME: "NAME (VENDOR)"
    std::string newKey;     // --new-key: make a signing key pair there, and nothing else
    // update.exe and its feed: all "" without --update-url.
    std::string updateUrl;  // the feed's address, ending in "/" once checked
    std::string updateKey;  // the private key this version's manifest is signed with
    std::string updateExe;  // update.exe to ship; "" for the one beside makesetup
    std::string feed;       // the feed folder this version is added to
    std::string expires;    // days from the release to the manifest's expiry, as given
    int expiresDays = 365;
    std::string rotateKey;  // the key whose public half this version ships in place of updateKey's
};

// Reads the arguments (without the program name). Returns "" and fills
// options, or the usage error. help is set for --help.
std::string parseSetupOptions(const std::vector<std::string>& args, SetupOptions& options, bool& help);

// Checks the values and fills in what is derived (exe, id, the ProgIDs, the
// output's name). Returns "" or the first problem as "what is wrong; what to do".
std::string checkSetupOptions(SetupOptions& options);

// The checks of --update-url and the options that go with it (part of
// checkSetupOptions): the URL gets its "/" at the end.
std::string checkUpdateOptions(SetupOptions& options);

// The product's id when none is given: the same for the same vendor and name,
// whatever the version, so that a new version replaces the installed one.
std::string derivedId(const std::string& vendor, const std::string& name);
