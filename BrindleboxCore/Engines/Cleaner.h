#pragma once
// The free-up-space engine for one account: surveys a folder read-only,
// checks each old message's local copy, and releases (flags and expunges)
// only messages whose copy is verified, re-checking everything just before.
//
// Runs synchronously on the caller's worker thread. Cancellation comes from
// the std::stop_token given to each call:
// - survey/plan: noticed before each metadata fetch (and by the IMAP client
//   while it waits), ending the call with CancellationError;
// - execute: noticed only between runs of `chunkSize` messages, never inside
//   one; a started run goes on to its expunge or to the undo of its failure.
//   execute never ends with CancellationError: a stop gives
//   CleanupError::stopped.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <stop_token>
#include <string>
#include <vector>

#include "Engines/CleanupError.h"
#include "Engines/CleanupItem.h"
#include "Engines/CleanupPlan.h"
#include "Util/Date.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"

namespace bx {

class IMAPClient;

class Cleaner {
public:
    // Called as progress(released, total): once with 0 before the first run,
    // then after every run whose expunge succeeded. Called on the thread that
    // runs execute.
    using Progress = std::function<void(std::int64_t released, std::int64_t total)>;

    // UIDs per metadata fetch, in the survey and in the release.
    static constexpr std::size_t metaRunSize = 500;

    Cleaner(ArchiveLayout layout, MailAccount account, std::string password);

    ArchiveLayout layout;
    MailAccount account;
    std::string password;
    std::int64_t chunkSize = 200;  // UIDs flagged and expunged per run; below 1 acts as 1
    double timeout = 60.0;         // seconds, for every IMAPClient the engine makes
    // Set by execute: messages of the folder that an earlier, interrupted
    // release had left flagged \Deleted, whose flag it took off before
    // flagging anything itself (those it releases now are flagged again).
    std::int64_t leftoversUnflagged = 0;

    // Read-only survey of `mailbox` for messages older than `before` (a day
    // in the local time zone, as IMAP SEARCH BEFORE reads it). Every item is
    // pending. Throws the IMAP client's errors unchanged, CancellationError
    // when stopped.
    CleanupPlan survey(const std::string& mailbox, Date before, std::stop_token stop = {});
    // survey, then each item's status set by the copy check.
    CleanupPlan plan(const std::string& mailbox, Date before, std::stop_token stop = {});

    // Releases the plan's verified messages that still pass the copy check
    // and still have their surveyed size on the server. Returns the number
    // released. Throws CleanupError, or the IMAP client's errors for failures
    // before anything was flagged. `releasedUIDs`, when given, receives the
    // UIDs known to have left the server, also when the release ends early
    // (a re-check may keep some verified messages, so the count alone does
    // not say which ones went).
    std::int64_t execute(const CleanupPlan& plan, const Progress& progress = nullptr, std::stop_token stop = {},
                         std::vector<std::uint32_t>* releasedUIDs = nullptr);

    // The copy check. Never throws.
    static CleanupItem::Status verify(const CleanupItem& item, const ArchiveLayout& layout);
    // The copy check of many items, each status the one verify(item, layout)
    // gives: each folder is opened once and each digest file read once for
    // the whole batch, and the files are checked on up to 4 threads.
    static std::vector<CleanupItem::Status> verify(const std::vector<CleanupItem>& items,
                                                   const ArchiveLayout& layout);
    static CleanupItem::Status verify(const std::filesystem::path& file, std::int64_t serverSize);

    // The .eml files below root/directory by the UID that ends their name
    // ("2024-03-07 Subject 4711.eml"), as vault-relative paths. Files are
    // visited in path order; the first file for a UID wins.
    static std::map<std::uint32_t, std::string> filesByUID(const ArchiveLayout& layout, const std::string& directory);

private:
    struct RunOutcome;
    // Of the confirmed UIDs, those whose copy has a recorded digest, and
    // those without one whose bytes equal what the server holds (their digest
    // is recorded then). Reads the server's bytes on the open connection and
    // keeps none of them.
    std::vector<std::uint32_t> confirmBytes(IMAPClient& client, const std::vector<CleanupItem>& candidates,
                                            const std::vector<std::uint32_t>& confirmed,
                                            const std::map<std::uint32_t, std::int64_t>& sizes) const;
    RunOutcome settleRun(const CleanupPlan& plan, const std::vector<std::uint32_t>& run) const;
};

}  // namespace bx
