#include "Engines/Cleaner.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "Engines/BackupRunner.h"
#include "Engines/Chunked.h"
#include "Engines/IMAPSession.h"
#include "Engines/ReleaseJournal.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPClient.h"
#include "Imap/IMAPDate.h"
#include "Imap/IMAPError.h"
#include "Imap/UIDSet.h"
#include "Mime/MIMEParser.h"
#include "Util/AtomicFile.h"
#include "Util/FileHandle.h"
#include "Util/Unicode.h"
#include "Vault/MessageDigests.h"

namespace bx {

namespace fs = std::filesystem;

namespace {

// Number of distinct UIDs of `flagged` that are not in `ours`.
std::int64_t countForeign(const std::vector<std::uint32_t>& flagged, const std::set<std::uint32_t>& ours) {
    std::set<std::uint32_t> foreign;
    for (auto uid : flagged)
        if (!ours.count(uid)) foreign.insert(uid);
    return static_cast<std::int64_t>(foreign.size());
}

// The run's UIDs that the selected folder still holds, ascending, each once.
std::vector<std::uint32_t> stillThere(IMAPClient& client, const std::vector<std::uint32_t>& run) {
    const std::set<std::uint32_t> members(run.begin(), run.end());
    std::set<std::uint32_t> found;
    for (auto uid : client.uidSearch("UID " + UIDSet::string(run)))
        if (members.count(uid)) found.insert(uid);
    return {found.begin(), found.end()};
}

// True when the file at `file` begins with exactly `prefix`.
bool fileStartsWith(const fs::path& file, const std::string& prefix) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string head(prefix.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    if (static_cast<std::size_t>(in.gcount()) != prefix.size()) return false;
    return head == prefix;
}

}  // namespace

struct Cleaner::RunOutcome {
    bool known = false;                   // the server could be asked what is left of the run
    std::int64_t gone = 0;                // the run's messages no longer on the server
    std::vector<std::uint32_t> goneUIDs;  // which ones
};

namespace {
// The UIDs of `run` that are not in `left` (both ascending).
std::vector<std::uint32_t> without(const std::vector<std::uint32_t>& run, const std::vector<std::uint32_t>& left) {
    std::vector<std::uint32_t> out;
    std::set_difference(run.begin(), run.end(), left.begin(), left.end(), std::back_inserter(out));
    return out;
}
}  // namespace

Cleaner::Cleaner(ArchiveLayout layout, MailAccount account, std::string password)
    : layout(std::move(layout)), account(std::move(account)), password(std::move(password)) {}

// ---------------------------------------------------------------- survey

CleanupPlan Cleaner::survey(const std::string& mailbox, Date before, std::stop_token stop) {
    IMAPSession session(account, password, timeout, stop);
    IMAPClient& client = session.client();
    const SelectInfo info = session.open(mailbox, /*readOnly=*/true);
    const std::vector<std::uint32_t> old = client.uidSearch("BEFORE " + IMAPDate::searchString(before));
    const std::vector<std::uint32_t> deleted = client.uidSearch("DELETED");

    std::vector<IMAPFetchItem> fetched;
    for (const auto& run : chunked(old, metaRunSize)) {
        if (stop.stop_requested()) throw CancellationError();
        auto items = client.fetchMeta(run);
        fetched.insert(fetched.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
    }

    // UID -> local copy. Paths recorded by the backup are trusted; a path
    // found only by the file-name scan names a UID that may belong to another
    // numbering or another mailbox sharing the folder, so it is kept only
    // when the server's header of that UID is the file's header.
    std::map<std::uint32_t, std::string> paths;
    std::set<std::uint32_t> fromScan;
    const AccountSyncState sync = layout.loadSync(account);
    auto state = sync.folders.find(mailbox);
    // A server that reports no UIDVALIDITY gives UIDs no lasting meaning.
    if (state != sync.folders.end() && info.uidValidity != 0 && state->second.uidValidity == info.uidValidity) {
        for (const auto& [key, path] : state->second.files)
            if (auto uid = parseDecimal<std::uint32_t>(key)) paths.emplace(*uid, path);
        bool missing = false;
        for (const auto& item : fetched)
            if (item.uid && !paths.count(*item.uid)) missing = true;
        if (missing) {
            for (const auto& [uid, path] : layout.filesByUID(state->second.directory))
                if (paths.emplace(uid, path).second) fromScan.insert(uid);
        }
    }

    std::vector<std::uint32_t> toConfirm;
    for (const auto& item : fetched)
        if (item.uid && item.size && fromScan.count(*item.uid)) toConfirm.push_back(*item.uid);
    std::sort(toConfirm.begin(), toConfirm.end());
    toConfirm.erase(std::unique(toConfirm.begin(), toConfirm.end()), toConfirm.end());
    for (const auto& run : chunked(toConfirm, metaRunSize)) {
        if (stop.stop_requested()) throw CancellationError();
        const std::map<std::uint32_t, std::string> headers = client.fetchHeaders(run);
        for (auto uid : run) {
            auto header = headers.find(uid);
            auto file = layout.resolve(paths[uid]);
            const bool same =
                header != headers.end() && !header->second.empty() && file && fileStartsWith(*file, header->second);
            if (!same) paths.erase(uid);
        }
    }

    const bool uidPlus = client.capabilities().count("UIDPLUS") > 0;
    client.logout();

    std::stable_sort(fetched.begin(), fetched.end(), [](const IMAPFetchItem& a, const IMAPFetchItem& b) {
        return a.uid.value_or(0) < b.uid.value_or(0);
    });
    std::vector<CleanupItem> items;
    for (const auto& f : fetched) {
        if (!f.uid || !f.size) continue;
        std::optional<std::string> localPath;
        if (auto p = paths.find(*f.uid); p != paths.end()) localPath = p->second;
        items.emplace_back(*f.uid, *f.size, f.internalDate, std::move(localPath), CleanupItem::Status::pending());
    }

    std::string displayName = mailbox;
    for (const auto& known : account.knownFolders) {
        if (known.name == mailbox) {
            displayName = known.displayName;
            break;
        }
    }

    CleanupPlan plan(mailbox, displayName, before, info.uidValidity, std::move(items));
    std::set<std::uint32_t> ours(old.begin(), old.end());
    // Messages an interrupted release left flagged are unflagged before the
    // next release flags anything: they are no other messages.
    if (auto note = ReleaseJournal::read(layout, account.id);
        note && note->mailbox == mailbox && note->uidValidity == info.uidValidity)
        ours.insert(note->uids.begin(), note->uids.end());
    plan.otherDeletedOnServer = countForeign(deleted, ours);
    plan.serverSupportsUIDPlus = uidPlus;
    return plan;
}

CleanupPlan Cleaner::plan(const std::string& mailbox, Date before, std::stop_token stop) {
    CleanupPlan result = survey(mailbox, before, std::move(stop));
    const auto statuses = verify(result.items, layout);
    for (std::size_t i = 0; i < statuses.size(); ++i) result.items[i].status = statuses[i];
    return result;
}

// ---------------------------------------------------------------- copy check

namespace {

// The `size` bytes a regular file of that size holds, into `buffer` (kept
// between files to spare an allocation each); false when reading fails.
// Fewer bytes mean the file was cut meanwhile.
bool readInto(int fd, std::string& buffer, std::size_t size) {
    buffer.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer.data() + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    buffer.resize(got);
    return true;
}

// The copy check on a file opened without following links, with its
// attributes when the opening already asked for them. `digest`, when the
// backup recorded one, must match the bytes too: a copy changed in place at
// the same size (bit rot, an editor) would otherwise still pass.
template <class Digest>
CleanupItem::Status checkOpenFile(const FileHandle& file, const struct stat* known, std::int64_t serverSize,
                                  const Digest& digest, std::string& buffer) {
    try {
        struct stat st {};
        if (known) st = *known;
        if (!file || (!known && ::fstat(file.get(), &st) != 0) || !S_ISREG(st.st_mode))
            return CleanupItem::Status::notBackedUp();
        const std::int64_t size = st.st_size;
        if (size != serverSize) return CleanupItem::Status::sizeMismatch(size, serverSize);
        if (!readInto(file.get(), buffer, static_cast<size_t>(size))) return CleanupItem::Status::unreadable();
        if (static_cast<std::int64_t>(buffer.size()) != serverSize) return CleanupItem::Status::unreadable();
        // The header field looksValid found is also a field of the whole
        // message's header, so a full parse (every part decoded) could only
        // confirm it.
        if (!MIMEParser::looksValid(buffer)) return CleanupItem::Status::unreadable();
        if (const std::optional<std::string_view> recorded = digest();
            recorded && *recorded != MessageDigests::sha256(buffer))
            return CleanupItem::Status::unreadable();
        return CleanupItem::Status::verified();
    } catch (...) {
        // Out of memory on a huge file and the like: never a reason to release.
        return CleanupItem::Status::unreadable();
    }
}

const auto noDigest = [] { return std::optional<std::string_view>(); };

// Folders held open at once by one batch; the files of any further folder
// are opened from the root one by one.
constexpr std::size_t kHeldFolders = 256;
// Threads of one batch, and the fewest items worth one more thread.
constexpr std::size_t kVerifyThreads = 4;
constexpr std::size_t kItemsPerThread = 128;
// Items a thread takes at a time.
constexpr std::size_t kVerifyRun = 32;

// The folder `relative` below the open folder `base`, reached without
// following a link; empty when it cannot be.
FileHandle openFolderNoLinks(int base, const std::string& relative) {
#ifdef SYS_openat2
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = ::syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how);
    } while (fd < 0 && errno == EAGAIN);
    if (fd >= 0 || errno != ENOSYS) return FileHandle(static_cast<int>(fd));
#endif
    try {
        return openFolderBeneath(base, relative, false, fs::path());
    } catch (const std::system_error&) {
        return FileHandle();
    }
}

}  // namespace

CleanupItem::Status Cleaner::verify(const CleanupItem& item, const ArchiveLayout& layout) {
    if (!item.localPath || !ArchiveLayout::isSafeRelativePath(*item.localPath))
        return CleanupItem::Status::notBackedUp();
    // Reached from the vault's root without following a link: a link inside
    // the vault to a file elsewhere is no backed-up copy.
    struct stat st {};
    const FileHandle file = openRegularFileBelow(layout.root, *item.localPath, &st);
    std::string buffer;
    std::optional<std::string> recorded;
    return checkOpenFile(
        file, file ? &st : nullptr, item.serverSize,
        [&]() -> std::optional<std::string_view> {
            recorded = MessageDigests::lookup(layout, *item.localPath);
            return recorded;
        },
        buffer);
}

std::vector<CleanupItem::Status> Cleaner::verify(const std::vector<CleanupItem>& items, const ArchiveLayout& layout) {
    std::vector<CleanupItem::Status> out(items.size(), CleanupItem::Status::notBackedUp());
    // Where each item's file lies: a folder opened once for all its files
    // (the root as its path says, links and all, and nothing below it
    // through a link), its name there, and the digest table of its vault
    // folder.
    struct Place {
        int folder = -1;  // -1: opened from the root alone
        std::string_view name;
        int digests = -1;
    };
    std::vector<Place> places(items.size());
    std::vector<bool> check(items.size(), false);
    std::unordered_map<std::string_view, int> folderIndex, digestIndex;
    std::vector<FileHandle> folders;
    std::vector<std::string_view> digestFolders;
    const FileHandle root(::open(layout.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& path = items[i].localPath;
        if (!path || !ArchiveLayout::isSafeRelativePath(*path)) continue;
        check[i] = true;
        const std::string_view relative = *path;
        const std::size_t slash = relative.rfind('/');
        const std::string_view folder = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
        Place& place = places[i];
        place.name = relative.substr(slash == std::string_view::npos ? 0 : slash + 1);
        if (const auto it = folderIndex.find(folder); it != folderIndex.end()) {
            place.folder = it->second;
        } else if (root && folders.size() < kHeldFolders) {
            folders.push_back(folder.empty() ? FileHandle(::fcntl(root.get(), F_DUPFD_CLOEXEC, 0))
                                             : openFolderNoLinks(root.get(), std::string(folder)));
            place.folder = folderIndex[folder] = static_cast<int>(folders.size() - 1);
        }
        if (const auto vaultFolder = MessageDigests::folderOf(relative)) {
            auto [it, added] = digestIndex.try_emplace(*vaultFolder, static_cast<int>(digestFolders.size()));
            if (added) digestFolders.push_back(*vaultFolder);
            place.digests = it->second;
        }
    }
    std::vector<std::shared_ptr<const MessageDigests::Table>> digests;
    digests.reserve(digestFolders.size());
    for (const auto folder : digestFolders) digests.push_back(MessageDigests::table(layout, folder));

    const auto checkRange = [&](std::size_t from, std::size_t to, std::string& buffer) {
        for (std::size_t i = from; i < to; ++i) {
            if (!check[i]) continue;
            const Place& place = places[i];
            const CleanupItem& item = items[i];
            if (place.folder < 0) {
                out[i] = verify(item, layout);
                continue;
            }
            const FileHandle& folder = folders[static_cast<std::size_t>(place.folder)];
            struct stat st {};
            FileHandle file;
            if (folder) {
                file = FileHandle(::openat(folder.get(), std::string(place.name).c_str(),
                                           O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
                if (file && (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))) file = FileHandle();
            }
            if (place.digests < 0) {
                out[i] = checkOpenFile(file, file ? &st : nullptr, item.serverSize, noDigest, buffer);
                continue;
            }
            const MessageDigests::Table& table = *digests[static_cast<std::size_t>(place.digests)];
            out[i] = checkOpenFile(
                file, file ? &st : nullptr, item.serverSize, [&] { return table.find(*item.localPath); }, buffer);
        }
    };

    const std::size_t threads = std::clamp<std::size_t>(items.size() / kItemsPerThread, 1, kVerifyThreads);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        std::string buffer;
        for (;;) {
            const std::size_t from = next.fetch_add(kVerifyRun);
            if (from >= items.size()) return;
            checkRange(from, std::min(from + kVerifyRun, items.size()), buffer);
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no thread to be had: fewer do it
        }
    }
    work();
    for (auto& h : helpers) h.join();
    return out;
}

CleanupItem::Status Cleaner::verify(const fs::path& file, std::int64_t serverSize) {
    const FileHandle handle(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    std::string buffer;
    return checkOpenFile(handle, nullptr, serverSize, noDigest, buffer);
}

std::map<std::uint32_t, std::string> Cleaner::filesByUID(const ArchiveLayout& layout, const std::string& directory) {
    return layout.filesByUID(directory);
}

// ---------------------------------------------------------------- release

std::int64_t Cleaner::execute(const CleanupPlan& plan, const Progress& progress, std::stop_token stop,
                              std::vector<std::uint32_t>* releasedUIDs) {
    if (releasedUIDs) releasedUIDs->clear();
    leftoversUnflagged = 0;
    // The copy check again, just before anything happens.
    const std::vector<CleanupItem> candidates = plan.verified();
    std::vector<std::uint32_t> recheck;
    const auto rechecked = verify(candidates, layout);
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (candidates[i].localPath && rechecked[i] == CleanupItem::Status::verified())
            recheck.push_back(candidates[i].uid);
    if (recheck.empty()) throw CleanupError::nothingVerified();
    const std::set<std::uint32_t> recheckSet(recheck.begin(), recheck.end());

    // The stop is looked at between runs only. Setting up may still be cut
    // short by the client; that ends the release as stopped, with nothing
    // flagged.
    IMAPSession session(account, password, timeout, stop);
    IMAPClient& client = session.client();
    std::int64_t total = static_cast<std::int64_t>(recheckSet.size());

    std::vector<std::uint32_t> confirmed;
    bool uidPlus = false;
    try {
        const SelectInfo info = session.open(plan.mailbox, /*readOnly=*/false);
        if (info.uidValidity != plan.uidValidity) throw CleanupError::uidValidityChanged();
        if (info.readOnly) {
            // STORE would be refused; stop before flagging anything.
            client.logout();
            throw CleanupError::stopped(0, total, std::string("The folder can only be opened read-only"));
        }
        leftoversUnflagged =
            ReleaseJournal::unflagLeftovers(client, layout, account.id, plan.mailbox, info.uidValidity);
        uidPlus = client.capabilities().count("UIDPLUS") > 0;
        if (!uidPlus) {
            const std::int64_t others = countForeign(client.uidSearch("DELETED"), recheckSet);
            if (others > 0) throw CleanupError::otherDeletedMessages(others);
        }

        std::vector<IMAPFetchItem> measured;
        for (const auto& run : chunked(recheck, metaRunSize)) {
            auto items = client.fetchMeta(run);
            measured.insert(measured.end(), std::make_move_iterator(items.begin()),
                            std::make_move_iterator(items.end()));
        }
        std::map<std::uint32_t, std::int64_t> expected;
        for (const auto& item : candidates) expected.emplace(item.uid, item.serverSize);
        for (const auto& m : measured) {
            if (!m.uid || !m.size) continue;
            // FETCH replies the server sends of its own accord (flag changes
            // of other messages) are not confirmations.
            if (!recheckSet.count(*m.uid)) continue;
            auto e = expected.find(*m.uid);
            if (e != expected.end() && e->second == *m.size) confirmed.push_back(*m.uid);
        }
        std::sort(confirmed.begin(), confirmed.end());
        confirmed.erase(std::unique(confirmed.begin(), confirmed.end()), confirmed.end());
        confirmed = confirmBytes(client, candidates, confirmed, expected);
    } catch (const CancellationError&) {
        client.logout();
        throw CleanupError::stopped(0, total, std::nullopt);
    }
    if (confirmed.empty()) throw CleanupError::nothingVerified();

    total = static_cast<std::int64_t>(confirmed.size());
    if (progress) progress(0, total);

    std::int64_t released = 0;
    const std::size_t runSize = static_cast<std::size_t>(std::max<std::int64_t>(chunkSize, 1));
    for (const auto& run : chunked(confirmed, runSize)) {
        if (stop.stop_requested()) break;

        // A started run goes on to its expunge or to the undo of its failure.
        auto shield = client.shieldFromCancellation();
        enum class Step { guard, flag, expunge } step = Step::guard;
        std::optional<std::string> problem;
        bool answered = false;  // the failure was the server's answer; the connection still works
        try {
            if (!uidPlus) {
                const std::int64_t others =
                    countForeign(client.uidSearch("DELETED"), std::set<std::uint32_t>(run.begin(), run.end()));
                if (others > 0) {
                    answered = true;
                    throw CleanupError::otherDeletedMessages(others);
                }
            }
            // Noted before the flags are set: a release killed before its
            // expunge or undo leaves a note for the next one to act on.
            ReleaseJournal::write(layout, account.id, {plan.mailbox, plan.uidValidity, run});
            step = Step::flag;
            client.markDeleted(run);
            step = Step::expunge;
            client.expunge(run);
            ReleaseJournal::clear(layout, account.id);
        } catch (const std::exception& e) {
            problem = e.what();
            if (auto imap = dynamic_cast<const IMAPError*>(&e))
                answered = answered || imap->kind() == IMAPError::Kind::commandFailed;
        } catch (...) {
            problem = std::string("Unknown error");
        }

        if (problem) {
            std::int64_t gone = 0;
            std::int64_t unknown = 0;
            bool unflagged = false;
            bool settled = step == Step::guard;  // no flag of the run is left on the server
            if (answered) {
                try {
                    client.unmarkDeleted(run);
                    unflagged = true;
                } catch (...) {
                }
            }
            if (step == Step::expunge) {
                // The expunge may have taken some or all of the run: find out
                // before telling anyone what is left.
                std::optional<std::vector<std::uint32_t>> left;
                if (unflagged) {
                    try {
                        left = stillThere(client, run);
                    } catch (...) {
                    }
                }
                if (left) {
                    settled = true;
                    gone = static_cast<std::int64_t>(run.size() - left->size());
                    if (releasedUIDs) {
                        std::sort(left->begin(), left->end());
                        const auto went = without(run, *left);
                        releasedUIDs->insert(releasedUIDs->end(), went.begin(), went.end());
                    }
                } else {
                    RunOutcome outcome = settleRun(plan, run);
                    settled = outcome.known;
                    if (outcome.known) {
                        gone = outcome.gone;
                        if (releasedUIDs)
                            releasedUIDs->insert(releasedUIDs->end(), outcome.goneUIDs.begin(), outcome.goneUIDs.end());
                    } else {
                        unknown = static_cast<std::int64_t>(run.size());
                    }
                }
            } else if (step == Step::flag && !unflagged) {
                // The flags may have been set before the connection broke.
                RunOutcome outcome = settleRun(plan, run);
                settled = outcome.known;
                if (outcome.known) {
                    gone = outcome.gone;
                    if (releasedUIDs)
                        releasedUIDs->insert(releasedUIDs->end(), outcome.goneUIDs.begin(), outcome.goneUIDs.end());
                }
            }
            if (settled || unflagged) ReleaseJournal::clear(layout, account.id);
            client.logout();
            throw CleanupError::stopped(released + gone, total, problem, unknown);
        }

        released += static_cast<std::int64_t>(run.size());
        if (releasedUIDs) releasedUIDs->insert(releasedUIDs->end(), run.begin(), run.end());
        if (progress) progress(released, total);
    }

    client.logout();
    if (released >= total) return released;
    throw CleanupError::stopped(released, total, std::nullopt);
}

// The copy check trusts a copy's size and form, and its digest where one is
// recorded. Copies backed up before digests were kept, or whose records were
// lost with a deleted or cut-short digests file, have none: a copy changed in
// place at the same size would pass. Those are compared with the server's
// bytes here, batch by batch, before anything is flagged; a copy that differs
// stays on the server. A failure of the fetch ends the release before any
// flag, like any other failure while setting up.
std::vector<std::uint32_t> Cleaner::confirmBytes(IMAPClient& client, const std::vector<CleanupItem>& candidates,
                                                 const std::vector<std::uint32_t>& confirmed,
                                                 const std::map<std::uint32_t, std::int64_t>& sizes) const {
    std::map<std::uint32_t, std::string> pathOf;
    for (const auto& item : candidates)
        if (item.localPath) pathOf.emplace(item.uid, *item.localPath);
    std::vector<std::uint32_t> kept, unrecorded;
    for (auto uid : confirmed) {
        auto path = pathOf.find(uid);
        if (path == pathOf.end()) continue;
        if (MessageDigests::lookup(layout, path->second))
            kept.push_back(uid);
        else
            unrecorded.push_back(uid);
    }
    if (unrecorded.empty()) return kept;

    // Batches bounded like the backup's, so memory stays bounded too.
    std::map<std::uint32_t, IMAPFetchItem> meta;
    for (auto uid : unrecorded) {
        IMAPFetchItem item;
        item.uid = uid;
        if (auto size = sizes.find(uid); size != sizes.end()) item.size = size->second;
        meta.emplace(uid, std::move(item));
    }
    constexpr std::int64_t batchBytes = 6000000, batchCount = 40;
    for (const auto& batch : BackupRunner::planBatches(unrecorded, meta, batchBytes, batchCount)) {
        std::set<std::uint32_t> pending(batch.begin(), batch.end());
        std::vector<std::pair<std::string, std::string>> digests;
        client.fetchBodies(batch, [&](IMAPFetchItem&& item) {
            // Only the first answer for a UID asked for counts.
            if (!item.uid || !item.body || !pending.erase(*item.uid)) return;
            const std::string& path = pathOf.at(*item.uid);
            const std::optional<std::string> local = layout.readRegularFile(path);
            const std::string_view server(reinterpret_cast<const char*>(item.body->data()), item.body->size());
            if (!local || *local != server) return;
            kept.push_back(*item.uid);
            digests.emplace_back(path, MessageDigests::sha256(server));
        });
        try {
            MessageDigests::append(layout, digests);
        } catch (const std::exception&) {
            // Unrecorded, the next check compares with the server again.
        }
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

// On a fresh connection, after the one that ran `run` failed: which of the
// run's messages are gone, and the flag taken off those still there. Not
// cancellable: it only repairs and reports.
Cleaner::RunOutcome Cleaner::settleRun(const CleanupPlan& plan, const std::vector<std::uint32_t>& run) const {
    RunOutcome outcome;
    try {
        IMAPSession session(account, password, timeout);
        IMAPClient& client = session.client();
        const SelectInfo info = session.open(plan.mailbox, /*readOnly=*/false);
        if (info.uidValidity != plan.uidValidity) return outcome;
        const std::vector<std::uint32_t> left = stillThere(client, run);
        outcome.known = true;
        outcome.gone = static_cast<std::int64_t>(run.size() - left.size());
        std::vector<std::uint32_t> sortedLeft = left;
        std::sort(sortedLeft.begin(), sortedLeft.end());
        outcome.goneUIDs = without(run, sortedLeft);
        if (!info.readOnly) {
            try {
                client.unmarkDeleted(left);
            } catch (...) {
            }
        }
        client.logout();
    } catch (...) {
        outcome.known = false;
    }
    return outcome;
}

}  // namespace bx
