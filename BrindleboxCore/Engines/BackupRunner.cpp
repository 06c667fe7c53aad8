#include "Engines/BackupRunner.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <memory>
#include <set>
#include <string_view>
#include <system_error>

#include "Engines/Chunked.h"
#include "Engines/IMAPSession.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPClient.h"
#include "Mime/EncodedWords.h"
#include "Mime/MIMEParser.h"
#include "Mime/MailDate.h"
#include "Util/AtomicFile.h"
#include "Vault/FileNames.h"
#include "Vault/MessageDigests.h"

namespace bx {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kUnknownSizeEstimate = 50000;
constexpr std::size_t kMetaChunk = 500;

std::string upper(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

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

struct StoredRecord {
    std::uint32_t uid;
    std::string path;
    std::int64_t length;
    std::string digest;  // SHA-256 of the bytes, for the copy check
};

// The sync file's text, kept between saves so that recording a batch costs
// time in proportion to the batch rather than to the whole folder (the file is
// rewritten after every batch). Finished folders are kept as rendered text;
// the folder being downloaded keeps its "files" and "sizes" members as text
// that grows by each stored message.
class SyncText {
public:
    explicit SyncText(const AccountSyncState& sync) {
        for (const auto& [name, state] : sync.folders) refresh(name, state);
    }

    // A folder's state changed as a whole.
    void refresh(const std::string& name, const FolderState& state) {
        if (name == current_) current_.clear();
        std::string& text = rendered_[name];
        text.clear();
        appendJSON(text, state);
    }

    // Downloads into `state` start; it is recorded only through added().
    void begin(const std::string& name, const FolderState& state) {
        current_ = name;
        rebuild(state);
    }

    // `key` was just set in state.files and state.sizes.
    void added(const FolderState& state, const std::string& key, bool replaced) {
        if (replaced) {
            rebuild(state);  // a UID delivered twice: its member must appear once
            return;
        }
        if (!files_.empty()) files_ += ',';
        appendJSONString(files_, key);
        files_ += ':';
        appendJSONString(files_, state.files.at(key));
        if (!sizes_.empty()) sizes_ += ',';
        appendJSONString(sizes_, key);
        sizes_ += ':';
        appendJSONNumber(sizes_, state.sizes->at(key));
    }

    std::string text(const AccountSyncState& sync) {
        std::string out;
        size_t estimate = 32 + files_.size() + sizes_.size();
        for (const auto& [name, text] : rendered_) estimate += name.size() + text.size() + 4;
        out.reserve(estimate + 256);
        out += "{\"folders\":{";
        bool first = true;
        for (const auto& [name, state] : sync.folders) {
            if (!first) out += ',';
            first = false;
            appendJSONString(out, name);
            out += ':';
            if (name == current_) {
                appendJSON(out, state, &files_, &sizes_);
            } else {
                auto it = rendered_.find(name);
                if (it == rendered_.end()) {
                    refresh(name, state);
                    it = rendered_.find(name);
                }
                out += it->second;
            }
        }
        out += "}}";
        return out;
    }

private:
    void rebuild(const FolderState& state) {
        files_.clear();
        sizes_.clear();
        appendFileEntries(files_, state);
        appendSizeEntries(sizes_, state);
    }

    std::map<std::string, std::string> rendered_;
    std::string current_;
    std::string files_, sizes_;
};

// First path component of a vault-relative directory.
std::string firstComponent(const std::string& directory) { return directory.substr(0, directory.find('/')); }

}  // namespace

BackupRunner::BackupRunner(ArchiveLayout layout, MailAccount account, std::string password)
    : layout(std::move(layout)), account(std::move(account)), password(std::move(password)) {}

// The account's folder for mailboxes it has no state for yet. Normally the
// account's directoryName; when another account's sync state already files
// mail under that name (two accounts with the same label), this account gets
// a folder of its own, marked with the start of its id.
std::string BackupRunner::accountFolder() {
    if (accountFolder_) return *accountFolder_;
    const std::string base = account.directoryName();
    std::set<std::string> claimed;
    const std::string own = layout.syncURL(account).filename().string();
    std::error_code ec;
    for (fs::directory_iterator it(layout.metaDirectory(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == own || name.rfind("sync-", 0) != 0 || it->path().extension() != ".json") continue;
        const auto text = readFile(it->path());
        if (!text) continue;
        try {
            for (const auto& [mailbox, state] : AccountSyncState::fromJSON(*text).folders)
                claimed.insert(firstComponent(state.directory));
        } catch (const std::exception&) {
        }
    }
    accountFolder_ = claimed.count(base) ? base + " (" + account.id.string().substr(0, 8) + ")" : base;
    return *accountFolder_;
}

std::map<std::int64_t, std::vector<std::string>> BackupRunner::filesBySize(const ArchiveLayout& layout,
                                                                          const std::string& directory) {
    std::map<std::int64_t, std::vector<std::string>> map;
    const auto folder = layout.resolve(directory);
    if (!folder) return map;
    std::error_code ec;
    fs::recursive_directory_iterator it(*folder, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) return map;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        const auto& entry = *it;
        std::string ext = entry.path().extension().string();
        for (auto& c : ext)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (ext != ".eml") continue;
        // Only plain files: a link could point anywhere outside the vault.
        std::error_code sec;
        const auto status = entry.symlink_status(sec);
        if (sec || !fs::is_regular_file(status)) continue;
        const auto size = entry.file_size(sec);
        if (sec) continue;
        const std::string rel = entry.path().lexically_relative(*folder).generic_string();
        map[static_cast<std::int64_t>(size)].push_back(directory + "/" + rel);
    }
    return map;
}

std::vector<std::vector<std::uint32_t>> BackupRunner::planBatches(const std::vector<std::uint32_t>& uids,
                                                                  const std::map<std::uint32_t, IMAPFetchItem>& meta,
                                                                  std::int64_t bytes, std::int64_t count) {
    std::vector<std::vector<std::uint32_t>> plan;
    std::vector<std::uint32_t> current;
    std::int64_t running = 0;
    for (const auto uid : uids) {
        std::int64_t estimate = kUnknownSizeEstimate;
        if (const auto it = meta.find(uid); it != meta.end() && it->second.size)
            estimate = std::max<std::int64_t>(*it->second.size, 0);
        if (!current.empty() &&
            (static_cast<std::int64_t>(current.size()) >= count || addClamped(running, estimate) > bytes)) {
            plan.push_back(std::move(current));
            current.clear();
            running = 0;
        }
        current.push_back(uid);
        running = addClamped(running, estimate);
    }
    if (!current.empty()) plan.push_back(std::move(current));
    return plan;
}

BackupSummary BackupRunner::run(const ProgressHandler& progress, std::stop_token stop) {
    // Every way out closes the connection; only a finished run signs out
    // first.
    IMAPSession session(account, password, timeout, stop);
    session.signIn();
    IMAPClient* const client = &session.client();
    std::vector<IMAPMailbox> mailboxes = client->list();
    if (mailboxes.empty()) mailboxes = account.knownFolders;

    std::vector<std::string> names = account.folders;
    if (names.empty()) {
        for (const auto& m : mailboxes)
            if (upper(m.name) == "INBOX") names.push_back(m.name);
    }

    AccountSyncState sync = layout.loadSync(account);
    BackupSummary summary;
    std::map<std::string, std::int64_t> completed;
    BackupProgress last;  // the last report sent

    auto report = [&](BackupProgress p) {
        last = p;
        if (progress) progress(p);
    };
    SyncText syncText(sync);
    // Saves the working map; `changed` names a folder whose state changed
    // other than through SyncText::added.
    auto save = [&](const std::string& changed) {
        syncText.refresh(changed, sync.folders.at(changed));
        layout.saveSyncText(syncText.text(sync), account);
    };
    // A batch is recorded by appending its entries to the sync journal: the
    // cost follows the batch, not the folder. The sync file itself is
    // rewritten when a folder starts afresh and when it ends.
    auto journalBatch = [&](const FolderState& state, const std::string& files, const std::string& sizes) {
        std::string line;
        appendJSON(line, state, &files, &sizes);
        line += '\n';
        layout.appendSyncJournal(line, account);
    };

    for (const auto& name : names) {
        checkCancelled(stop);
        const auto entry = std::find_if(mailboxes.begin(), mailboxes.end(),
                                        [&](const IMAPMailbox& m) { return m.name == name; });
        if (entry == mailboxes.end() || !entry->isSelectable()) continue;

        // Worked on in place in the working map (copying it per batch would
        // cost time proportional to the folder's size, every batch).
        auto [slot, isNew] = sync.folders.try_emplace(name);
        if (isNew) slot->second = FolderState(name, accountFolder() + "/" + FileNames::folderDirectory(*entry), 0);
        FolderState& state = slot->second;

        BackupProgress base;
        base.account = account.label;
        base.folder = entry->displayName;
        base.mailbox = name;
        base.completed = completed;
        base.phase = "Checking";
        report(base);

        const SelectInfo info = session.open(name, true);

        std::map<std::int64_t, std::vector<std::string>> reuse;
        bool startsAfresh = isNew;
        if (state.uidValidity != 0 && state.uidValidity != info.uidValidity) {
            startsAfresh = true;
            state.highestUID = 0;
            state.files.clear();
            state.sizes = std::map<std::string, std::int64_t>{};
            reuse = filesBySize(layout, state.directory);
        }
        state.uidValidity = info.uidValidity;

        // `found`: the server's UIDs above the mark, ascending. highestUID
        // only ever moves over a run of them that is stored without a gap: a
        // requested message that did not arrive keeps the mark below it, so
        // the next run asks for it again. UIDs already filed lie above the
        // mark only in that case; they are not fetched twice.
        std::vector<std::uint32_t> found, newUIDs;
        size_t markAt = 0;
        auto advanceMark = [&] {
            while (markAt < found.size() && state.files.count(std::to_string(found[markAt]))) {
                state.highestUID = std::max(state.highestUID, found[markAt]);
                ++markAt;
            }
        };
        // A folder whose mark is the largest UID there is has nothing newer
        // to ask for ("UID 0:*" would be refused).
        if (info.exists >= 1 && state.highestUID < std::numeric_limits<std::uint32_t>::max()) {
            const std::uint32_t from = state.highestUID + 1u;
            for (const auto uid : client->uidSearch("UID " + std::to_string(from) + ":*"))
                if (uid > state.highestUID) found.push_back(uid);
            // A server may name a UID twice; each is one message.
            std::sort(found.begin(), found.end());
            found.erase(std::unique(found.begin(), found.end()), found.end());
            for (const auto uid : found)
                if (!state.files.count(std::to_string(uid))) newUIDs.push_back(uid);
            advanceMark();
        }

        if (newUIDs.empty()) {
            completed[name] = 0;
            state.lastRun = std::chrono::system_clock::now();
            save(name);
            summary.folders += 1;
            continue;
        }

        base.phase = "Measuring";
        report(base);

        // Only answers for UIDs asked for count: a server may volunteer
        // FETCH replies for other messages.
        const std::set<std::uint32_t> wanted(newUIDs.begin(), newUIDs.end());
        std::map<std::uint32_t, IMAPFetchItem> meta;
        for (const auto& chunk : chunked(newUIDs, kMetaChunk)) {
            for (auto& item : client->fetchMeta(chunk))
                if (item.uid && wanted.count(*item.uid)) meta.try_emplace(*item.uid, std::move(item));
        }

        std::int64_t bytesTotal = 0;
        for (const auto& [uid, item] : meta) bytesTotal = addClamped(bytesTotal, std::max<std::int64_t>(item.size.value_or(0), 0));
        std::int64_t messagesDone = 0, bytesDone = 0;

        BackupProgress downloading = base;
        downloading.phase = "Downloading";
        downloading.messagesTotal = static_cast<std::int64_t>(newUIDs.size());
        downloading.bytesTotal = bytesTotal;
        report(downloading);

        // Journal lines add to what the sync file holds; a new or renumbered
        // folder is written whole first.
        if (startsAfresh) save(name);
        syncText.begin(name, state);
        // Stores one fetched message: an identical file found by the reuse
        // map, or a new file named by its date, subject and UID.
        auto store = [&](IMAPFetchItem& item, std::vector<StoredRecord>& stored) {
            if (!item.uid || !item.body) return;
            const std::string_view body(reinterpret_cast<const char*>(item.body->data()), item.body->size());
            const auto n = static_cast<std::int64_t>(body.size());
            if (const auto candidates = reuse.find(n); candidates != reuse.end()) {
                for (const auto& candidate : candidates->second) {
                    // Only a file inside the vault counts, never one a link names.
                    const auto existing = layout.readRegularFile(candidate);
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
            std::string path = layout.write(body, relative, *date, ArchiveLayout::Durability::deferred);
            stored.push_back({*item.uid, std::move(path), n, MessageDigests::sha256(body)});
        };

        // Batch k+1 is asked for as soon as batch k's reply is complete, so
        // the server reads and sends it while batch k is written and
        // recorded. Only one batch is held in memory; the next one waits in
        // the connection. A stop noticed before the next batch leaves its
        // FETCH unanswered, and the connection is simply closed.
        const auto plan = planBatches(newUIDs, meta, batchBytes, batchCount);
        IMAPClient::Pending inFlight;
        for (std::size_t b = 0; b < plan.size(); ++b) {
            const auto& batch = plan[b];
            checkCancelled(stop);
            if (inFlight.empty()) inFlight = client->beginFetchBodies(batch);
            // Only the batch's own UIDs are taken, each once: a reply the
            // server volunteers for another UID would otherwise plant a file
            // that stands for a message never asked for.
            const std::set<std::uint32_t> asked(batch.begin(), batch.end());
            std::set<std::uint32_t> taken;
            std::vector<IMAPFetchItem> received;
            std::vector<StoredRecord> stored;
            std::int64_t held = 0;
            auto writeOut = [&] {
                for (auto& item : received) store(item, stored);
                received.clear();
                held = 0;
            };
            client->finishFetchBodies(inFlight, [&](IMAPFetchItem&& item) {
                if (!item.uid || !item.body || !asked.count(*item.uid) || !taken.insert(*item.uid).second) return;
                held = addClamped(held, static_cast<std::int64_t>(item.body->size()));
                received.push_back(std::move(item));
                // The plan trusts the announced sizes; what is held is bounded
                // by the bytes that really came. Files written here are
                // recorded with the rest of the batch.
                if (held > batchBytes) writeOut();
            });
            if (b + 1 < plan.size() && !stop.stop_requested()) inFlight = client->beginFetchBodies(plan[b + 1]);
            writeOut();

            std::set<std::uint32_t> arrived;
            std::vector<std::pair<std::string, std::string>> digests;
            std::string batchFiles, batchSizes;
            BackupProgress batchReport = downloading;
            for (const auto& record : stored) {
                const std::string key = std::to_string(record.uid);
                if (!state.sizes) state.sizes = std::map<std::string, std::int64_t>{};
                const bool replaced = state.files.count(key) || state.sizes->count(key);
                state.files[key] = record.path;
                const auto m = meta.find(record.uid);
                (*state.sizes)[key] = (m != meta.end() && m->second.size) ? *m->second.size : record.length;
                syncText.added(state, key, replaced);
                if (!batchFiles.empty()) {
                    batchFiles += ',';
                    batchSizes += ',';
                }
                appendJSONString(batchFiles, key);
                batchFiles += ':';
                appendJSONString(batchFiles, record.path);
                appendJSONString(batchSizes, key);
                batchSizes += ':';
                appendJSONNumber(batchSizes, state.sizes->at(key));
                messagesDone += 1;
                bytesDone = addClamped(bytesDone, record.length);
                summary.newMessages += 1;
                summary.bytes = addClamped(summary.bytes, record.length);
                summary.files.push_back(record.path);
                batchReport.newFiles.push_back(record.path);
                digests.emplace_back(record.path, record.digest);
                arrived.insert(record.uid);
            }
            for (const auto uid : batch)
                if (!arrived.count(uid)) summary.missing += 1;
            advanceMark();

            // The batch's files and their digests reach the disk before the
            // state that lists them.
            MessageDigests::append(layout, digests, /*flush=*/false);
            layout.syncFiles(batchReport.newFiles);
            journalBatch(state, batchFiles, batchSizes);

            batchReport.messagesDone = messagesDone;
            batchReport.bytesDone = bytesDone;
            report(batchReport);
        }

        completed[name] = messagesDone;
        state.lastRun = std::chrono::system_clock::now();
        save(name);
        summary.folders += 1;
    }

    BackupProgress done = last;
    done.account = account.label;
    done.phase = "Done";
    done.newFiles.clear();
    done.completed = completed;
    report(done);

    client->logout();
    return summary;
}

}  // namespace bx
