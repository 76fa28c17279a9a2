#pragma once

#include "feed_manifest.hpp"

#include <cstdint>
#include <string>
#include <vector>

// The steps of an update, shared by its units: update_main.cpp (the command
// line and the outcome), update_run.cpp (the feed: manifest, downloads,
// staging) and swap.cpp (the journal: swap, finish, trial, rollback).

// How long a locked file is retried before the step gives up.
const int lockedFileRetrySeconds = 20;
// A new version that ends badly within this many seconds of one of its first
// trialStarts starts is rolled back.
const int trialSeconds = 60;
const int trialStarts = 2;

// The app folder: the folder above update's own (updater), ending in a separator.
std::string appFolder();
// A manifest's relative path ("/" between names) below folder (ending in a separator).
std::string pathBelow(const std::string& folder, const std::string& relative);
// The update's working folders below the state folder.
std::string stagedPathOf(const std::string& app, const std::string& relative);   // new/PATH
// old-VERSION/PATH: the files the swap to VERSION set aside.
std::string asidePathOf(const std::string& app, const std::string& version, const std::string& relative);
std::string downloadPathOf(const std::string& app, const std::string& sha256);   // download/SHA.part

// Reads updater/update-installed.txt.
std::string readInstalled(const std::string& app, FeedManifest& installed);

// What the feed offers, verified: its signature by the installed key first,
// then the text; another product, an older version or an expired manifest is
// refused. text is the manifest exactly as signed.
struct Offer {
    FeedManifest manifest;
    std::string text;
    std::vector<FeedFile> downloads;  // the files whose content the installation lacks
    int64_t downloadBytes = 0;
    bool rolledBack = false;  // a trial of this version was rolled back: it is not offered again
};

// The version whose trial was rolled back, which no update installs again:
// the app would end badly again. A newer one is offered.
std::string rolledBackPathOf(const std::string& app);
// Fetches and checks the feed's manifest, within deadline (secondsNow()).
// upToDate is set when the feed's version is the installed one, or one
// that was rolled back.
std::string fetchOffer(const std::string& app, const FeedManifest& installed, int64_t deadline, Offer& offer,
                       bool& upToDate);

// Downloads what the offer lacks (resuming what a broken download left) and
// stages the new version's changed files under new/, each checked against its
// size and SHA-256. Free space is checked first. progress gets the bytes done.
std::string stageOffer(const std::string& app, const Offer& offer);

// The swap, through the journal: from installed to the staged offer.
std::string swapIn(const std::string& app, const FeedManifest& installed, const Offer& offer);
// Finishes a swap or a rollback that was cut off. Nothing to do: "".
std::string finishJournal(const std::string& app);
// The app ended while its new version is on trial. rolledBack is set when it
// ended badly and the old version is back; the reason is in why.
std::string judgeTrial(const std::string& app, int exitCode, int64_t seconds, bool& rolledBack, std::string& why);
// Ends a trial early (a further update starts): the old version's files go.
std::string commitTrial(const std::string& app);
// Removes the staged files and every version's set-aside files. Without a
// journal they are what a cut-off commit or rollback left behind.
void removeLeftovers(const std::string& app);
// Whether a journal exists.
bool journalExists(const std::string& app);

// updater/last-update.txt: what the app reads after the restart.
struct Outcome {
    std::string version;
    std::string result;  // "applied", "rolled back", "failed", "cancelled", "up to date"
    std::string reason;
};
void writeOutcome(const std::string& app, const Outcome& outcome);

// How long a download may stall, and the feed's manifest take, before the
// update gives up.
const int stallSeconds = 30;

// Gives up the update when the next call does not come within seconds:
// last-update.txt gets outcome and update exits 0, so the old version starts
// (a download resumes next time). 0 lifts it, before anything is moved.
void giveUpAfter(int seconds, const std::string& app, const Outcome& outcome);

// The test builds' fault points: the process dies here when UPDATE_FAULT_AT names the point.
void faultPoint(const std::string& name);
