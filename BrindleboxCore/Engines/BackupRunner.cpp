#include "Engines/BackupRunner.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <system_error>

#include "Engines/Chunked.h"
#include "Engines/FriendlyError.h"
#include "Engines/IMAPSession.h"
#include "Engines/ReleaseJournal.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPClient.h"
#include "Imap/IMAPError.h"
#include "Mime/EncodedWords.h"
#include "Mime/MIMEParser.h"
#include "Mime/MailDate.h"
#include "Util/Unicode.h"
#include "Vault/FileNames.h"
#include "Vault/MessageDigests.h"
#include "Vault/SyncFolder.h"

namespace bx {

namespace {

constexpr std::int64_t kUnknownSizeEstimate = 50000;
constexpr std::size_t kMetaChunk = 500;
// "/" + FileNames::messagePath: year, day, a subject of at most 150 bytes,
// the UID and ".eml", with their separators.
constexpr std::size_t kLongestMessagePath = 1 + 5 + 11 + 150 + 1 + 10 + 4;
// A folder with nothing new is recorded by a journal line, not by rewriting
// the whole sync file; the journal is folded into the file once it is this long.
constexpr std::uint64_t kFoldJournalAt = 256 * 1024;

// Sizes come from the server and may be anything up to 2^63 - 1; sums of
// them stop at the largest value rather than wrapping.
std::int64_t addClamped(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b) return std::numeric_limits<std::int64_t>::max();
    if (b < 0 && a < std::numeric_limits<std::int64_t>::min() - b) return std::numeric_limits<std::int64_t>::min();
    return a + b;
}

void checkCancelled(const std::stop_token& stop) {
    if (stop.stop_requested()) throw CancellationError();
}

// The server's announced size of each new UID, by UID.
struct AnnouncedSize {
    std::uint32_t uid;
    std::optional<std::int64_t> size;
};
using AnnouncedSizes = std::vector<AnnouncedSize>;

std::optional<std::int64_t> announced(const AnnouncedSizes& sizes, std::uint32_t uid) {
    auto it = std::lower_bound(sizes.begin(), sizes.end(), uid,
                               [](const AnnouncedSize& a, std::uint32_t u) { return a.uid < u; });
    return it != sizes.end() && it->uid == uid ? it->size : std::nullopt;
}

// Cuts the UIDs into batches one at a time: a batch is closed before it would
// exceed `count` UIDs or `bytes` estimated bytes; a single oversized message
// travels alone.
template <class SizeOf>
class BatchPlanner {
public:
    BatchPlanner(std::span<const std::uint32_t> uids, SizeOf sizeOf, std::int64_t bytes, std::int64_t count)
        : uids_(uids), sizeOf_(std::move(sizeOf)), bytes_(bytes), count_(count) {}

    bool done() const { return next_ >= uids_.size(); }

    std::span<const std::uint32_t> next() {
        const std::size_t start = next_;
        std::int64_t running = 0;
        while (next_ < uids_.size()) {
            const std::optional<std::int64_t> size = sizeOf_(uids_[next_]);
            const std::int64_t estimate = size ? std::max<std::int64_t>(*size, 0) : kUnknownSizeEstimate;
            const auto held = static_cast<std::int64_t>(next_ - start);
            if (held > 0 && (held >= count_ || addClamped(running, estimate) > bytes_)) break;
            running = addClamped(running, estimate);
            ++next_;
        }
        return uids_.subspan(start, next_ - start);
    }

private:
    std::span<const std::uint32_t> uids_;
    SizeOf sizeOf_;
    std::int64_t bytes_, count_;
    std::size_t next_ = 0;
};

struct StoredRecord {
    std::uint32_t uid;
    std::string path;
    std::int64_t length;
    std::string digest;  // SHA-256 of the bytes, for the copy check
};

}  // namespace

// One run's working data and its steps.
class BackupRunner::Run {
public:
    Run(const BackupRunner& runner, const BackupRunner::ProgressHandler& progress, std::stop_token stop)
        : r_(runner), progress_(progress), stop_(std::move(stop)) {}

    BackupSummary run() {
        // Every way out closes the connection; only a finished run signs out
        // first.
        IMAPSession session(r_.account, r_.password, r_.timeout, stop_);
        session_ = &session;
        session.signIn();
        client_ = &session.client();
        mailboxes_ = client_->list();
        if (mailboxes_.empty()) mailboxes_ = r_.account.knownFolders;

        sync_ = r_.layout.loadSyncFolders(r_.account.id);
        for (const auto& name : chosenNames()) {
            checkCancelled(stop_);
            const auto entry = std::find_if(mailboxes_.begin(), mailboxes_.end(),
                                            [&](const IMAPMailbox& m) { return m.name == name; });
            if (entry == mailboxes_.end() || !entry->isSelectable()) continue;
            backUpMailbox(*entry);
        }
        if (journaled_ && r_.layout.syncJournalBytes(r_.account.id) > kFoldJournalAt) save();

        BackupProgress done = last_;
        done.account = r_.account.label;
        done.phase = "Done";
        done.newFiles.clear();
        done.completed = completed_;
        report(done);

        client_->logout();
        return std::move(summary_);
    }

private:
    // The account's chosen folders, else every INBOX the server lists.
    std::vector<std::string> chosenNames() const {
        if (!r_.account.folders.empty()) return r_.account.folders;
        std::vector<std::string> names;
        for (const auto& m : mailboxes_)
            if (asciiUppercased(m.name) == "INBOX") names.push_back(m.name);
        return names;
    }

    void report(const BackupProgress& p) {
        last_ = p;
        lastReportAt_ = std::chrono::steady_clock::now();
        if (progress_) progress_(p);
    }

    // A batch of 40 large messages takes seconds to write: the count moves
    // with the files as they land, not only when the batch is recorded.
    void fileWritten(std::int64_t length) {
        if (!writing_) return;
        writing_->messagesDone += 1;
        writing_->bytesDone = addClamped(writing_->bytesDone, length);
        const auto now = std::chrono::steady_clock::now();
        if (now - lastReportAt_ < std::chrono::duration<double>(r_.progressInterval)) return;
        report(*writing_);
    }

    void save() { r_.layout.saveSync(sync_, r_.account); }

    const std::string& accountFolder() {
        if (!accountFolder_) accountFolder_ = r_.layout.accountFolder(r_.account);
        return *accountFolder_;
    }

    void backUpMailbox(const IMAPMailbox& entry) {
        const std::string& name = entry.name;
        // Worked on in place in the working map.
        auto [slot, isNew] = sync_.try_emplace(name);
        if (isNew) slot->second = SyncFolder(name, accountFolder() + "/" + FileNames::folderDirectory(entry), 0);
        SyncFolder& state = slot->second;

        BackupProgress base;
        base.account = r_.account.label;
        base.folder = entry.displayName;
        base.mailbox = name;
        base.completed = completed_;
        base.phase = "Checking";
        report(base);

        unflagReleaseLeftovers(entry);
        SelectInfo info;
        try {
            info = session_->open(name, true);
        } catch (const IMAPError& e) {
            // A folder the server will not open (gone, no right to read it)
            // is that folder's failure; the others are still backed up.
            if (e.kind() != IMAPError::Kind::commandFailed) throw;
            const FriendlyError::Message why = FriendlyError::describe(e, r_.account.server.host);
            summary_.refused.push_back({name, entry.displayName, why.title, why.advice});
            if (isNew) sync_.erase(slot);
            return;
        }
        const bool sameValidity = !isNew && state.uidValidity == info.uidValidity;
        const bool startsAfresh = checkValidity(state, info) || isNew;
        findNewUIDs(state, info);

        if (newUIDs_.empty()) {
            if (sameValidity)
                finishUnchangedMailbox(state);
            else
                finishMailbox(state, 0);
            return;
        }

        base.phase = "Measuring";
        report(base);
        measure();
        skipOversized(entry);
        const std::int64_t bytesTotal = announcedTotal();

        BackupProgress downloading = base;
        downloading.phase = "Downloading";
        downloading.messagesTotal = static_cast<std::int64_t>(newUIDs_.size());
        downloading.bytesTotal = bytesTotal;
        report(downloading);

        // Journal lines add to what the sync file holds; a new or renumbered
        // folder is written whole first.
        if (startsAfresh) save();
        // What the mailbox will hold is known now: room is made once rather
        // than by copying as it grows. Room is made for the longest name a
        // message can get; pages never written to cost no memory.
        const std::size_t pathRoom = state.directory.size() + kLongestMessagePath;
        state.entries.reserve(newUIDs_.size(), pathRoom);
        summary_.files.reserveMore(newUIDs_.size(), newUIDs_.size() * pathRoom);
        const std::int64_t stored = download(state, downloading);
        releaseMailboxData();
        finishMailbox(state, stored);
    }

    // A release killed between flagging and expunging left messages of this
    // folder flagged \Deleted, where another mail program's expunge would
    // take them. Their flag comes off before the backup reads the folder,
    // which is the one change a backup makes on the server. A server that
    // refuses it leaves the note for next time; the backup goes on.
    void unflagReleaseLeftovers(const IMAPMailbox& entry) {
        const auto note = ReleaseJournal::read(r_.layout, r_.account.id);
        if (!note || note->mailbox != entry.name) return;
        try {
            const SelectInfo writable = session_->open(entry.name, false);
            if (writable.readOnly) return;
            const std::int64_t unflagged =
                ReleaseJournal::unflagLeftovers(*client_, r_.layout, r_.account.id, entry.name, writable.uidValidity);
            if (unflagged > 0) summary_.unflagged.push_back({entry.name, entry.displayName, unflagged});
        } catch (const IMAPError& e) {
            if (e.kind() != IMAPError::Kind::commandFailed) throw;
        }
    }

    // A renumbered mailbox (another UIDVALIDITY) starts afresh; files already
    // in its folder are reused where the bytes match. True when it does.
    bool checkValidity(SyncFolder& state, const SelectInfo& info) {
        reuse_.clear();
        recordedDigests_.reset();
        bool renumbered = false;
        if (state.uidValidity != 0 && state.uidValidity != info.uidValidity) {
            renumbered = true;
            state.highestUID = 0;
            state.entries.clear();
            state.hasSizes = true;
            reuse_ = r_.layout.filesBySize(state.directory);
            // The files found again keep their digest records; they are not
            // written a second time.
            recordedDigests_ = MessageDigests::recorded(r_.layout, state.directory);
        }
        state.uidValidity = info.uidValidity;
        return renumbered;
    }

    // `found_`: the server's UIDs above the mark, ascending. highestUID only
    // ever moves over a run of them that is stored without a gap: a requested
    // message that did not arrive keeps the mark below it, so the next run
    // asks for it again. UIDs already filed lie above the mark only in that
    // case; they are not fetched twice.
    void findNewUIDs(SyncFolder& state, const SelectInfo& info) {
        found_.clear();
        newUIDs_.clear();
        markAt_ = 0;
        // A folder whose mark is the largest UID there is has nothing newer
        // to ask for ("UID 0:*" would be refused).
        if (info.exists < 1 || state.highestUID == std::numeric_limits<std::uint32_t>::max()) return;
        const std::uint32_t from = state.highestUID + 1u;
        for (const auto uid : client_->uidSearch("UID " + std::to_string(from) + ":*"))
            if (uid > state.highestUID) found_.push_back(uid);
        // A server may name a UID twice; each is one message.
        std::sort(found_.begin(), found_.end());
        found_.erase(std::unique(found_.begin(), found_.end()), found_.end());
        for (const auto uid : found_)
            if (!state.entries.hasPath(uid)) newUIDs_.push_back(uid);
        advanceMark(state);
    }

    void advanceMark(SyncFolder& state) {
        while (markAt_ < found_.size() && state.entries.hasPath(found_[markAt_])) {
            state.highestUID = std::max(state.highestUID, found_[markAt_]);
            ++markAt_;
        }
    }

    // The announced sizes of the new UIDs. Only answers for UIDs asked for
    // count: a server may volunteer FETCH replies for other messages.
    void measure() {
        sizes_.clear();
        sizes_.reserve(newUIDs_.size());
        for (const auto& asked : chunked(newUIDs_, kMetaChunk)) {
            const std::size_t before = sizes_.size();
            for (const auto& item : client_->fetchMeta(asked))
                if (item.uid && std::binary_search(asked.begin(), asked.end(), *item.uid))
                    sizes_.push_back({*item.uid, item.size});
            // The first answer for a UID counts.
            std::stable_sort(sizes_.begin() + static_cast<std::ptrdiff_t>(before), sizes_.end(),
                             [](const AnnouncedSize& a, const AnnouncedSize& b) { return a.uid < b.uid; });
            sizes_.erase(std::unique(sizes_.begin() + static_cast<std::ptrdiff_t>(before), sizes_.end(),
                                     [](const AnnouncedSize& a, const AnnouncedSize& b) { return a.uid == b.uid; }),
                         sizes_.end());
        }
    }

    // The announced sizes of the UIDs still to fetch, summed.
    std::int64_t announcedTotal() const {
        std::int64_t total = 0;
        for (const auto& s : sizes_) total = addClamped(total, std::max<std::int64_t>(s.size.value_or(0), 0));
        return total;
    }

    // A message announced larger than a reply can be received would end
    // every run at its FETCH. It is left on the server and reported by
    // subject; the rest of the folder is backed up. The mark stays below it,
    // so a later run finds it again.
    void skipOversized(const IMAPMailbox& entry) {
        std::vector<std::uint32_t> oversized;
        for (const auto& s : sizes_)
            if (s.size && *s.size > IMAPResponseReader::maxLiteralLength) oversized.push_back(s.uid);
        if (oversized.empty()) return;
        const std::map<std::uint32_t, std::string> headers = client_->fetchHeaders(oversized);
        for (const auto uid : oversized) {
            std::string subject;
            if (const auto header = headers.find(uid); header != headers.end())
                subject = std::string(trimWhitespaceNewlines(
                    EncodedWords::decode(MIMEParser::headers(header->second)["Subject"].value_or(""))));
            summary_.skipped.push_back(
                {entry.name, entry.displayName, std::move(subject), uid, *announced(sizes_, uid)});
        }
        const auto isOversized = [&](std::uint32_t uid) {
            return std::binary_search(oversized.begin(), oversized.end(), uid);
        };
        std::erase_if(newUIDs_, isOversized);
        std::erase_if(sizes_, [&](const AnnouncedSize& s) { return isOversized(s.uid); });
    }

    // Batch k+1 is asked for as soon as batch k's reply is complete, so the
    // server reads and sends it while batch k is written and recorded. Only
    // one batch is held in memory; the next one waits in the connection. A
    // stop noticed before the next batch leaves its FETCH unanswered, and the
    // connection is simply closed. Returns the messages stored.
    std::int64_t download(SyncFolder& state, const BackupProgress& downloading) {
        auto sizeOf = [this](std::uint32_t uid) { return announced(sizes_, uid); };
        BatchPlanner planner(std::span<const std::uint32_t>(newUIDs_), sizeOf, r_.batchBytes, r_.batchCount);
        std::int64_t messagesDone = 0, bytesDone = 0;
        std::vector<std::uint32_t> batch, nextBatch;
        if (!planner.done()) {
            const auto first = planner.next();
            nextBatch.assign(first.begin(), first.end());
        }
        IMAPClient::Pending inFlight;
        while (!nextBatch.empty()) {
            batch.swap(nextBatch);
            nextBatch.clear();
            if (!planner.done()) {
                const auto following = planner.next();
                nextBatch.assign(following.begin(), following.end());
            }
            checkCancelled(stop_);
            if (inFlight.empty()) inFlight = client_->beginFetchBodies(batch);
            BackupProgress writing = downloading;
            writing.messagesDone = messagesDone;
            writing.bytesDone = bytesDone;
            writing_ = &writing;
            std::vector<StoredRecord> stored = receiveBatch(state, batch, nextBatch, inFlight);
            writing_ = nullptr;

            BackupProgress batchReport = downloading;
            recordBatch(state, batch, stored, batchReport);
            for (const auto& record : stored) {
                messagesDone += 1;
                bytesDone = addClamped(bytesDone, record.length);
            }
            batchReport.messagesDone = messagesDone;
            batchReport.bytesDone = bytesDone;
            report(batchReport);
        }
        return messagesDone;
    }

    // Receives one batch and stores its messages. Only the batch's own UIDs
    // are taken, each once: a reply the server volunteers for another UID
    // would otherwise plant a file that stands for a message never asked for.
    // The next batch is asked for as soon as this one's reply is complete,
    // before its messages are written.
    std::vector<StoredRecord> receiveBatch(const SyncFolder& state, const std::vector<std::uint32_t>& batch,
                                           const std::vector<std::uint32_t>& nextBatch, IMAPClient::Pending& inFlight) {
        std::vector<std::uint32_t> asked(batch);
        std::sort(asked.begin(), asked.end());
        std::vector<std::uint32_t> taken;
        std::vector<IMAPFetchItem> received;
        std::vector<StoredRecord> stored;
        // Kept open for the batch only: each batch finds its folders afresh.
        ArchiveLayout::OpenFolders folders;
        std::int64_t held = 0;
        auto writeOut = [&] {
            for (auto& item : received) {
                const std::size_t before = stored.size();
                store(state, item, stored, folders);
                if (stored.size() > before) fileWritten(stored.back().length);
            }
            received.clear();
            held = 0;
        };
        client_->finishFetchBodies(inFlight, [&](IMAPFetchItem&& item) {
            if (!item.uid || !item.body || !std::binary_search(asked.begin(), asked.end(), *item.uid)) return;
            if (std::find(taken.begin(), taken.end(), *item.uid) != taken.end()) return;
            taken.push_back(*item.uid);
            held = addClamped(held, static_cast<std::int64_t>(item.body->size()));
            received.push_back(std::move(item));
            // The plan trusts the announced sizes; what is held is bounded by
            // the bytes that really came. Files written here are recorded
            // with the rest of the batch.
            if (held > r_.batchBytes) writeOut();
        });
        if (!nextBatch.empty() && !stop_.stop_requested()) inFlight = client_->beginFetchBodies(nextBatch);
        writeOut();
        return stored;
    }

    // Stores one fetched message: an identical file found by the reuse map,
    // or a new file named by its date, subject and UID.
    void store(const SyncFolder& state, IMAPFetchItem& item, std::vector<StoredRecord>& stored,
               ArchiveLayout::OpenFolders& folders) {
        if (!item.uid || !item.body) return;
        const std::string_view body(reinterpret_cast<const char*>(item.body->data()), item.body->size());
        const auto n = static_cast<std::int64_t>(body.size());
        if (const auto candidates = reuse_.find(n); candidates != reuse_.end()) {
            for (const auto& candidate : candidates->second) {
                // Only a file inside the vault counts, never one a link names.
                const auto existing = r_.layout.readRegularFile(candidate);
                if (existing && *existing == body) {
                    stored.push_back({*item.uid, candidate, n, MessageDigests::sha256(body)});
                    return;
                }
            }
        }
        const MIMEHeaders headers = MIMEParser::headers(body);
        const std::string subject = EncodedWords::decode(headers["Subject"].value_or(""));
        std::optional<Date> date = item.internalDate;
        if (!date) {
            if (const auto header = headers["Date"]) date = MailDate::parse(*header);
        }
        if (!date) date = std::chrono::system_clock::now();
        const std::string relative =
            state.directory + "/" + FileNames::messagePath(*date, subject, std::to_string(*item.uid));
        std::string path = r_.layout.write(body, relative, *date, ArchiveLayout::Durability::deferred, folders);
        stored.push_back({*item.uid, std::move(path), n, MessageDigests::sha256(body)});
    }

    // Records a batch: the files and their digests reach the disk first, then
    // the batch's entries go to the sync journal, so the cost follows the
    // batch, not the folder.
    void recordBatch(SyncFolder& state, const std::vector<std::uint32_t>& batch,
                     const std::vector<StoredRecord>& stored, BackupProgress& batchReport) {
        SyncFolder entries(state.mailbox, state.directory, state.uidValidity);
        entries.hasSizes = true;
        std::vector<std::pair<std::string, std::string>> digests;
        std::vector<std::uint32_t> arrived;
        state.hasSizes = true;
        for (const auto& record : stored) {
            const std::int64_t size = announced(sizes_, record.uid).value_or(record.length);
            state.entries.setPath(record.uid, record.path);
            state.entries.setSize(record.uid, size);
            entries.entries.setPath(record.uid, record.path);
            entries.entries.setSize(record.uid, size);
            summary_.newMessages += 1;
            summary_.bytes = addClamped(summary_.bytes, record.length);
            summary_.files.push_back(record.path);
            batchReport.newFiles.push_back(record.path);
            arrived.push_back(record.uid);
            if (recordedDigests_) {
                auto [known, added] = recordedDigests_->try_emplace(record.path, record.digest);
                if (!added && known->second == record.digest) continue;
                known->second = record.digest;
            }
            digests.emplace_back(record.path, record.digest);
        }
        std::sort(arrived.begin(), arrived.end());
        for (const auto uid : batch)
            if (!std::binary_search(arrived.begin(), arrived.end(), uid)) summary_.missing += 1;
        advanceMark(state);
        entries.highestUID = state.highestUID;
        entries.lastRun = state.lastRun;

        MessageDigests::append(r_.layout, digests, /*flush=*/false);
        r_.layout.syncFiles(batchReport.newFiles);
        r_.layout.appendSyncJournal(entries, r_.account.id);
    }

    void releaseMailboxData() {
        reuse_.clear();
        std::vector<std::uint32_t>().swap(found_);
        std::vector<std::uint32_t>().swap(newUIDs_);
        AnnouncedSizes().swap(sizes_);
    }

    void finishMailbox(SyncFolder& state, std::int64_t stored) {
        completed_[state.mailbox] = stored;
        state.lastRun = std::chrono::system_clock::now();
        save();
        summary_.folders += 1;
    }

    // A folder that kept its UIDVALIDITY and got nothing new changes only its
    // last run (and perhaps its mark): one journal line says so, where
    // rewriting the sync file would cost as much as the account is large.
    void finishUnchangedMailbox(SyncFolder& state) {
        completed_[state.mailbox] = 0;
        state.lastRun = std::chrono::system_clock::now();
        SyncFolder line(state.mailbox, state.directory, state.uidValidity);
        line.hasSizes = state.hasSizes;
        line.highestUID = state.highestUID;
        line.lastRun = state.lastRun;
        r_.layout.appendSyncJournal(line, r_.account.id);
        journaled_ = true;
        summary_.folders += 1;
    }

    const BackupRunner& r_;
    const BackupRunner::ProgressHandler& progress_;
    std::stop_token stop_;
    IMAPSession* session_ = nullptr;
    IMAPClient* client_ = nullptr;
    std::vector<IMAPMailbox> mailboxes_;
    SyncFolders sync_;
    BackupSummary summary_;
    std::map<std::string, std::int64_t> completed_;
    BackupProgress last_;  // the last report sent
    std::chrono::steady_clock::time_point lastReportAt_;
    BackupProgress* writing_ = nullptr;  // the batch being written: what it has stored so far
    std::optional<std::string> accountFolder_;
    bool journaled_ = false;  // a folder was recorded in the journal alone

    // Of the mailbox being worked on.
    std::map<std::int64_t, std::vector<std::string>> reuse_;
    // The folder's digest records, kept only while a renumbered mailbox is
    // fetched again.
    std::optional<std::map<std::string, std::string, std::less<>>> recordedDigests_;
    std::vector<std::uint32_t> found_, newUIDs_;
    std::size_t markAt_ = 0;
    AnnouncedSizes sizes_;
};

BackupRunner::BackupRunner(ArchiveLayout layout, MailAccount account, std::string password)
    : layout(std::move(layout)), account(std::move(account)), password(std::move(password)) {}

std::vector<std::vector<std::uint32_t>> BackupRunner::planBatches(const std::vector<std::uint32_t>& uids,
                                                                  const std::map<std::uint32_t, IMAPFetchItem>& meta,
                                                                  std::int64_t bytes, std::int64_t count) {
    auto sizeOf = [&](std::uint32_t uid) -> std::optional<std::int64_t> {
        const auto it = meta.find(uid);
        return it != meta.end() ? it->second.size : std::nullopt;
    };
    BatchPlanner planner(std::span<const std::uint32_t>(uids), sizeOf, bytes, count);
    std::vector<std::vector<std::uint32_t>> plan;
    while (!planner.done()) {
        const auto batch = planner.next();
        plan.emplace_back(batch.begin(), batch.end());
    }
    return plan;
}

BackupSummary BackupRunner::run(const ProgressHandler& progress, std::stop_token stop) {
    return Run(*this, progress, std::move(stop)).run();
}

}  // namespace bx
