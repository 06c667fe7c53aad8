#pragma once
// Copies the new mail of one account from its IMAP server into the vault.
//
// For each chosen mailbox (read-only, EXAMINE) it searches for UIDs above the
// highest one saved, fetches sizes in chunks of 500 and bodies in batches
// bounded by count and bytes, stores each message as one .eml file through
// ArchiveLayout::write, and records the account's sync state after every batch
// (the batch's entries go to the sync journal, the sync file is rewritten
// when a folder starts afresh and when it ends), so an interrupted run resumes
// where it stopped. Nothing on the server is changed (bodies are fetched with
// BODY.PEEK).
//
// The working data is compact: the account's sync state as SyncFolders, the
// new UIDs and their announced sizes as arrays, the batch plan made one batch
// at a time. Only one batch of bodies is held at once.
//
// A batch is received whole, then the next batch's FETCH is sent before the
// batch is written and recorded, so the server works while the files are
// written. At most about `batchBytes` of bodies (counted as received, not as
// announced) plus one message are held in memory: beyond that, what came so
// far is written out while the reply goes on.
//
// run() blocks; call it on a worker thread. Cancellation is cooperative: the
// stop token is checked before each mailbox and each batch (and a network wait
// in progress is woken up by the client); it ends the run with
// CancellationError. A FETCH already sent for the next batch is left
// unanswered and the connection closed, as on every error.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "Engines/BackupProgress.h"
#include "Engines/BackupSummary.h"
#include "Imap/IMAPFetchItem.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"

namespace bx {

class BackupRunner {
public:
    using ProgressHandler = std::function<void(const BackupProgress&)>;

    BackupRunner(ArchiveLayout layout, MailAccount account, std::string password);

    const ArchiveLayout layout;
    const MailAccount account;
    const std::string password;
    std::int64_t batchBytes = 6000000;  // byte bound of one body batch (by the size estimate)
    std::int64_t batchCount = 40;       // message bound of one body batch
    double timeout = 60.0;              // seconds, for each network wait
    // Files written inside a batch are reported as they land, at most once
    // per this many seconds; a batch's end is always reported.
    double progressInterval = 0.1;

    // Every report is one synchronous call of `progress` on the calling thread.
    // Throws the first IMAPError, file-system error (std::system_error) or
    // CancellationError unchanged; what was saved before stays saved. LOGOUT
    // is sent only after a successful run; on every way out the connection is
    // closed.
    BackupSummary run(const ProgressHandler& progress = nullptr, std::stop_token stop = {});

    // The batch plan: UIDs in order, a batch closed before it would exceed
    // `count` UIDs or `bytes` estimated bytes (a UID without a reported size
    // counts 50,000); a single oversized message travels alone.
    static std::vector<std::vector<std::uint32_t>> planBatches(const std::vector<std::uint32_t>& uids,
                                                               const std::map<std::uint32_t, IMAPFetchItem>& meta,
                                                               std::int64_t bytes, std::int64_t count);

private:
    class Run;
};

}  // namespace bx
