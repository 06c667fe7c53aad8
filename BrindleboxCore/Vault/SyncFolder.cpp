#include "Vault/SyncFolder.h"

#include <algorithm>
#include <charconv>

#include "Util/Unicode.h"
#include "Vault/ArchiveLayout.h"

namespace bx {

namespace {

// The UID a key stands for, when the key is exactly its decimal text: "007"
// or "+7" are other keys, kept as written.
std::optional<std::uint32_t> canonicalUID(std::string_view key) {
    const auto uid = parseDecimal<std::uint32_t>(key);
    if (!uid) return std::nullopt;
    char buf[16];
    if (uidKey(*uid, buf) != key) return std::nullopt;
    return uid;
}

}  // namespace

std::string_view uidKey(std::uint32_t uid, char (&buf)[16]) {
    const auto r = std::to_chars(buf, buf + sizeof buf, uid);
    return std::string_view(buf, static_cast<std::size_t>(r.ptr - buf));
}

SyncEntries::Entry& SyncEntries::slot(std::uint32_t uid) {
    // Sizes are set in the order their paths were (a sync file lists both
    // by UID): the entry after the last one is tried before a search.
    if (next_ < entries_.size() && entries_[next_].uid == uid) return entries_[next_++];
    if (entries_.empty() || entries_.back().uid < uid) {
        entries_.push_back({uid, 0, 0, 0, 0});
        next_ = entries_.size();
        return entries_.back();
    }
    auto it = std::lower_bound(entries_.begin(), entries_.end(), uid,
                               [](const Entry& e, std::uint32_t u) { return e.uid < u; });
    next_ = static_cast<std::size_t>(it - entries_.begin()) + 1;
    if (it != entries_.end() && it->uid == uid) return *it;
    return *entries_.insert(it, Entry{uid, 0, 0, 0, 0});
}

const SyncEntries::Entry* SyncEntries::find(std::uint32_t uid) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), uid,
                               [](const Entry& e, std::uint32_t u) { return e.uid < u; });
    return it != entries_.end() && it->uid == uid ? &*it : nullptr;
}

void SyncEntries::storePath(Entry& e, std::string_view path) {
    // A replaced path stays in the block unused; replacing is rare (a UID
    // delivered twice) and the block is rebuilt on the next load.
    e.pathOffset = static_cast<std::uint32_t>(paths_.size());
    e.pathLength = static_cast<std::uint32_t>(path.size());
    paths_.append(path);
    e.flags |= kPath;
}

void SyncEntries::setPath(std::uint32_t uid, std::string_view path) {
    storePath(slot(uid), path);
}

void SyncEntries::setSize(std::uint32_t uid, std::int64_t size) {
    Entry& e = slot(uid);
    e.size = size;
    e.flags |= kSize;
}

void SyncEntries::setPath(std::string_view key, std::string_view path) {
    if (const auto uid = canonicalUID(key)) return setPath(*uid, path);
    other_[std::string(key)].path = std::string(path);
}

void SyncEntries::setSize(std::string_view key, std::int64_t size) {
    if (const auto uid = canonicalUID(key)) return setSize(*uid, size);
    other_[std::string(key)].size = size;
}

std::optional<std::string_view> SyncEntries::path(std::uint32_t uid) const {
    const Entry* e = find(uid);
    if (!e || !(e->flags & kPath)) return std::nullopt;
    return text(*e);
}

std::optional<std::int64_t> SyncEntries::size(std::uint32_t uid) const {
    const Entry* e = find(uid);
    if (!e || !(e->flags & kSize)) return std::nullopt;
    return e->size;
}

void SyncEntries::clearPaths() {
    for (auto& e : entries_) e.flags &= static_cast<std::uint8_t>(~kPath);
    for (auto& [key, o] : other_) o.path.reset();
}

void SyncEntries::clearSizes() {
    for (auto& e : entries_) e.flags &= static_cast<std::uint8_t>(~kSize);
    for (auto& [key, o] : other_) o.size.reset();
}

void SyncEntries::clear() {
    entries_.clear();
    paths_.clear();
    other_.clear();
}

void SyncEntries::dropUnsafePaths() {
    for (auto& e : entries_)
        if ((e.flags & kPath) && !ArchiveLayout::isSafeRelativePath(text(e)))
            e.flags &= static_cast<std::uint8_t>(~kPath);
    for (auto& [key, o] : other_)
        if (o.path && !ArchiveLayout::isSafeRelativePath(*o.path)) o.path.reset();
}

std::size_t SyncEntries::pathCount() const {
    std::size_t n = 0;
    for (const auto& e : entries_) n += (e.flags & kPath) ? 1 : 0;
    for (const auto& [key, o] : other_) n += o.path ? 1 : 0;
    return n;
}

void SyncEntries::reserve(std::size_t more, std::size_t pathBytes) {
    entries_.reserve(entries_.size() + more);
    paths_.reserve(paths_.size() + more * pathBytes);
}

void SyncEntries::appendUnordered(std::string_view key, std::optional<std::string_view> path,
                                  std::optional<std::int64_t> size) {
    const auto uid = canonicalUID(key);
    if (!uid) {
        Other& o = other_[std::string(key)];
        if (path) o.path = std::string(*path);
        if (size) o.size = size;
        return;
    }
    Entry e{*uid, 0, 0, 0, 0};
    if (path) storePath(e, *path);
    if (size) {
        e.size = *size;
        e.flags |= kSize;
    }
    entries_.push_back(e);
}

void SyncEntries::finish() {
    // Keys arrive in the file's order (text order: "10" before "9"), paths
    // and sizes apart: one sort, then one entry per UID, the last word of
    // each kind counting.
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.uid < b.uid; });
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries_.size();) {
        Entry merged = entries_[i];
        std::size_t j = i + 1;
        for (; j < entries_.size() && entries_[j].uid == merged.uid; ++j) {
            const Entry& later = entries_[j];
            if (later.flags & kPath) {
                merged.pathOffset = later.pathOffset;
                merged.pathLength = later.pathLength;
                merged.flags |= kPath;
            }
            if (later.flags & kSize) {
                merged.size = later.size;
                merged.flags |= kSize;
            }
        }
        if (merged.flags) entries_[out++] = merged;
        i = j;
    }
    entries_.resize(out);
    entries_.shrink_to_fit();
}

SyncFolder SyncFolder::from(const FolderState& state) {
    SyncFolder f(state.mailbox, state.directory, state.uidValidity);
    f.highestUID = state.highestUID;
    f.lastRun = state.lastRun;
    f.hasSizes = state.sizes.has_value();
    for (const auto& [key, path] : state.files) f.entries.appendUnordered(key, std::string_view(path), std::nullopt);
    if (state.sizes)
        for (const auto& [key, size] : *state.sizes) f.entries.appendUnordered(key, std::nullopt, size);
    f.entries.finish();
    return f;
}

FolderState SyncFolder::state() const {
    FolderState s(mailbox, directory, uidValidity);
    s.highestUID = highestUID;
    s.lastRun = lastRun;
    entries.forEachPath([&](std::string_view key, std::string_view path) { s.files.emplace(key, path); });
    if (hasSizes) {
        s.sizes.emplace();
        entries.forEachSize([&](std::string_view key, std::int64_t size) { s.sizes->emplace(key, size); });
    }
    return s;
}

}  // namespace bx
