#pragma once
// The offline search index of a vault: one MessageRecord per message file,
// an inverted index from folded word tokens to record slots, and a map from
// path to slot. A query finds the records that hold every query word as the
// start of some indexed word, newest first. Stored as index.json.
//
// Not thread-safe: one thread at a time per instance.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Index/IndexStorage.h"
#include "Index/MessageRecord.h"

namespace bx {

// Hashing that lets the maps be searched with a string_view.
struct StringKeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

class SearchIndex {
public:
    using Slot = uint32_t;
    using Postings = std::vector<Slot>;
    using PostingsMap = std::unordered_map<std::string, Postings, StringKeyHash, std::equal_to<>>;

    SearchIndex() = default;

    // Never fails: a missing, unreadable, damaged, inconsistent or
    // differently versioned file gives an empty index, and `error` (when
    // given) says why it was not read.
    static std::unique_ptr<SearchIndex> load(const std::filesystem::path& file, std::string* error = nullptr);
    // Writes index.json atomically; throws on any failure (the old file stays whole).
    void save(const std::filesystem::path& file) const;
    // The exact bytes save writes.
    std::string encode() const;
    // The same bytes handed to `sink` in pieces of about a megabyte, so that
    // saving never holds the whole text beside the index.
    void encode(const std::function<void(std::string_view)>& sink) const;
    // Decodes index.json text; nullopt when it is damaged or inconsistent.
    // A version other than 3 gives an empty index.
    static std::unique_ptr<SearchIndex> decode(std::string_view json, std::string* error = nullptr);

    // Every slot, empty where a record was removed. Empty altogether once
    // takeLiveRecords has run: use slotCount, pathAt and dateAt there.
    const std::vector<std::optional<MessageRecord>>& records() const { return records_; }
    std::vector<MessageRecord> liveRecords() const;
    // liveRecords() without copying: each live record is moved out, and the
    // index keeps per slot only what searching and path lookups read (path
    // and date), compactly. Queries, slot(), pathAt() and dateAt() answer as
    // before; the records the index hands out afterwards carry only id,
    // path and date, so it is for an index kept only to search, never to be
    // saved again.
    std::vector<MessageRecord> takeLiveRecords();
    size_t slotCount() const { return thin_ ? thin_->ends.size() : records_.size(); }
    // The path and date of the live record at `slot`; nullopt for an empty or unknown slot.
    std::optional<std::string_view> pathAt(Slot slot) const;
    std::optional<Date> dateAt(Slot slot) const;
    size_t count() const { return byPath_.size(); }
    std::optional<MessageRecord> record(std::string_view path) const;
    // The slot that holds the live record of `path`.
    std::optional<Slot> slot(std::string_view path) const;
    // Every token with its slots. The index keeps its lists compressed; this
    // expands them all into a copy (kept until the next change), so it is
    // for tests and tools rather than for queries.
    const PostingsMap& postings() const;
    size_t tokenCount() const { return lists_.size(); }

    void add(MessageRecord record, std::string_view text);
    // add() in two steps, so that the costly one can run on other threads:
    // distinctTokens (thread-safe) gives each token of the text once, in
    // order; addTokenized stores the record under them.
    static std::vector<std::string> distinctTokens(std::string_view text);
    void addTokenized(MessageRecord record, std::vector<std::string> tokens);
    void remove(std::string_view path);
    void compact();

    // Matching records, newest first.
    std::vector<MessageRecord> search(std::string_view query) const;
    // The same matches as slots, newest first, without copying records.
    std::vector<Slot> searchSlots(std::string_view query) const;

    static std::vector<std::string> tokenize(std::string_view text);
    // The record of one message file and the text to index for it. Never fails.
    static std::pair<MessageRecord, std::string> makeRecord(std::string_view data, std::string_view path, double mtime);

    // The contiguous run of sorted tokens that begin with prefix.
    std::vector<std::string_view> tokensWithPrefix(std::string_view prefix) const;
    bool hasSortedTokens() const { return sortedTokens_.has_value(); }

private:
    using ListMap = indexstorage::ListMap;
    using Entry = const ListMap::value_type*;
    const std::vector<Entry>& sortedTokens() const;
    const std::vector<Slot>& newestFirst() const;
    bool newer(Slot a, Slot b) const;
    std::pair<size_t, size_t> prefixRange(std::string_view prefix) const;
    void changed();
    bool isLive(Slot s) const { return thin_ ? bool(thin_->live[s]) : records_[s].has_value(); }
    std::string_view pathOf(Slot s) const { return thin_ ? thin_->path(s) : std::string_view(records_[s]->path); }
    Date dateOf(Slot s) const { return thin_ ? thin_->dates[s] : records_[s]->date; }
    MessageRecord thinRecord(Slot s) const;
    auto pathLookup() const {
        return [this](Slot s) { return pathOf(s); };
    }
    // Back from thin storage to records (of id, path and date) before a change.
    void thicken();
    friend struct IndexFileReader;

    std::vector<std::optional<MessageRecord>> records_;
    ListMap lists_;
    indexstorage::PathSlots byPath_;
    // Instead of records_ once takeLiveRecords has run.
    std::optional<indexstorage::ThinRecords> thin_;
    // Built on the first prefix lookup or encode; the map's nodes never
    // move, so the entries stay valid until the set of tokens changes.
    mutable std::optional<std::vector<Entry>> sortedTokens_;
    // Every slot that held a live record when it was built, newest first: a
    // large result is read off in this order instead of being sorted. Dropped
    // with sortedTokens; a removal only leaves an empty slot in it.
    mutable std::optional<std::vector<Slot>> newestFirst_;
    // The expanded copy postings() hands out.
    mutable std::optional<PostingsMap> expanded_;
};

}  // namespace bx
