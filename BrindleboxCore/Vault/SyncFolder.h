#pragma once
// The form in which the vault reads and writes sync state, and the backup
// works on it: a FolderState whose two per-UID maps are held as one sorted
// array with the paths in a single text block. A folder of 100,000 messages
// then costs a few megabytes instead of two maps of strings, which matters
// because a backup keeps the whole account's state for the run.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Util/Date.h"
#include "Vault/FolderState.h"

namespace bx {

// The decimal text of `uid`, in `buf`.
std::string_view uidKey(std::uint32_t uid, char (&buf)[16]);

// UID -> vault-relative path and UID -> recorded size, as the "files" and
// "sizes" members of a folder state: an entry may have either or both. Keys
// that are not a UID's plain decimal text (a hand-edited file) are kept aside
// as text, so that a rewrite keeps them.
class SyncEntries {
public:
    // Sets or replaces; appends cheaply when `uid` is above every UID held.
    void setPath(std::uint32_t uid, std::string_view path);
    void setSize(std::uint32_t uid, std::int64_t size);
    void setPath(std::string_view key, std::string_view path);
    void setSize(std::string_view key, std::int64_t size);

    std::optional<std::string_view> path(std::uint32_t uid) const;
    std::optional<std::int64_t> size(std::uint32_t uid) const;
    bool hasPath(std::uint32_t uid) const { return path(uid).has_value(); }

    // Forgets every path or every size (a member given twice: the last counts).
    void clearPaths();
    void clearSizes();
    void clear();
    // Drops the paths that would leave the vault; their sizes stay.
    void dropUnsafePaths();

    // f(key, value) for each path or size, UIDs in ascending order, then the
    // other keys in text order.
    template <class F>
    void forEachPath(F&& f) const;
    template <class F>
    void forEachSize(F&& f) const;

    std::size_t pathCount() const;

    // Room for `more` entries with paths of about `pathBytes` each, so that
    // a folder growing by a known number does not copy itself as it grows.
    void reserve(std::size_t more, std::size_t pathBytes);

    // For decoders: entries given in any order (a later one for the same key
    // wins) are put in order by finish(), which must come before any other
    // call.
    void appendUnordered(std::string_view key, std::optional<std::string_view> path, std::optional<std::int64_t> size);
    void finish();

private:
    struct Entry {
        std::uint32_t uid;
        std::uint32_t pathOffset;
        std::uint32_t pathLength;
        std::uint8_t flags;
        std::int64_t size;
    };
    static constexpr std::uint8_t kPath = 1, kSize = 2;
    struct Other {
        std::optional<std::string> path;
        std::optional<std::int64_t> size;
    };

    Entry& slot(std::uint32_t uid);
    const Entry* find(std::uint32_t uid) const;
    std::string_view text(const Entry& e) const { return std::string_view(paths_).substr(e.pathOffset, e.pathLength); }
    void storePath(Entry& e, std::string_view path);

    std::vector<Entry> entries_;  // by uid, ascending, once each
    std::size_t next_ = 0;        // the entry after the last slot() found: a hint, checked before use
    std::string paths_;
    std::map<std::string, Other> other_;
};

struct SyncFolder {
    std::string mailbox;
    std::string directory;
    std::uint32_t uidValidity = 0;
    std::uint32_t highestUID = 0;
    std::optional<Date> lastRun;
    bool hasSizes = false;  // the "sizes" member is present (possibly empty)
    SyncEntries entries;

    SyncFolder() = default;
    SyncFolder(std::string mailbox, std::string directory, std::uint32_t uidValidity)
        : mailbox(std::move(mailbox)), directory(std::move(directory)), uidValidity(uidValidity) {}

    static SyncFolder from(const FolderState& state);
    FolderState state() const;
};

// Raw mailbox name -> folder: the whole sync state of one account.
using SyncFolders = std::map<std::string, SyncFolder>;

template <class F>
void SyncEntries::forEachPath(F&& f) const {
    char buf[16];
    for (const auto& e : entries_) {
        if (!(e.flags & kPath)) continue;
        f(uidKey(e.uid, buf), text(e));
    }
    for (const auto& [key, o] : other_)
        if (o.path) f(std::string_view(key), std::string_view(*o.path));
}

template <class F>
void SyncEntries::forEachSize(F&& f) const {
    char buf[16];
    for (const auto& e : entries_) {
        if (!(e.flags & kSize)) continue;
        f(uidKey(e.uid, buf), e.size);
    }
    for (const auto& [key, o] : other_)
        if (o.size) f(std::string_view(key), *o.size);
}

}  // namespace bx
