#pragma once
// The search index's compact storage: posting lists as delta-coded varints
// and a path lookup that holds slots rather than second copies of paths.
// At 100,000 messages the lists hold about ten million entries; as 32-bit
// vectors with their growth slack they were the bulk of the index's memory.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Index/MessageRecord.h"

namespace bx::indexstorage {

using Slot = uint32_t;

// Ascending slots, each written as its distance from the one before (the
// first from 0) in 7-bit groups, low group first, high bit = more follows.
class PostingList {
public:
    // `slot` must be greater than every slot already in the list.
    void append(Slot slot) {
        uint32_t delta = count_ == 0 ? slot : slot - last_;
        while (delta >= 0x80) {
            bytes_.push_back(static_cast<uint8_t>(delta | 0x80));
            delta >>= 7;
        }
        bytes_.push_back(static_cast<uint8_t>(delta));
        last_ = slot;
        ++count_;
    }

    template <class F>
    void forEach(F&& f) const {
        const uint8_t* p = bytes_.data();
        const uint8_t* end = p + bytes_.size();
        Slot slot = 0;
        while (p < end) {
            uint32_t delta = 0;
            int shift = 0;
            uint8_t b;
            do {
                b = *p++;
                delta |= static_cast<uint32_t>(b & 0x7F) << shift;
                shift += 7;
            } while ((b & 0x80) && p < end);
            slot += delta;
            f(slot);
        }
    }

    std::vector<Slot> slots() const {
        std::vector<Slot> out;
        out.reserve(count_);
        forEach([&](Slot s) { out.push_back(s); });
        return out;
    }

    bool empty() const { return count_ == 0; }
    uint32_t size() const { return count_; }
    Slot last() const { return last_; }
    // Keeps the capacity: a scratch list is reused.
    void clear() {
        bytes_.clear();
        last_ = 0;
        count_ = 0;
    }
    void shrink() { bytes_.shrink_to_fit(); }

private:
    std::vector<uint8_t> bytes_;
    Slot last_ = 0;
    uint32_t count_ = 0;
};

struct TokenHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using ListMap = std::unordered_map<std::string, PostingList, TokenHash, std::equal_to<>>;

// Path -> slot, an open-addressing table of slots; the paths themselves are
// read through `pathOf(slot)`, so the table holds no copy of them. Every
// slot in the table must hold a live record.
class PathSlots {
public:
    template <class PathOf>
    std::optional<Slot> find(std::string_view path, const PathOf& pathOf) const {
        if (table_.empty()) return std::nullopt;
        const size_t mask = table_.size() - 1;
        for (size_t i = hash(path) & mask;; i = (i + 1) & mask) {
            const Slot s = table_[i];
            if (s == empty) return std::nullopt;
            if (pathOf(s) == path) return s;
        }
    }

    // Maps the path of `slot` to it, replacing an entry for the same path.
    template <class PathOf>
    void insert(Slot slot, const PathOf& pathOf) {
        if ((size_ + 1) * 2 > table_.size()) grow(pathOf);
        const std::string_view path = pathOf(slot);
        const size_t mask = table_.size() - 1;
        for (size_t i = hash(path) & mask;; i = (i + 1) & mask) {
            Slot& s = table_[i];
            if (s == empty) {
                s = slot;
                ++size_;
                return;
            }
            if (pathOf(s) == path) {
                s = slot;
                return;
            }
        }
    }

    // Removes the entry for `path`; true when there was one.
    template <class PathOf>
    bool erase(std::string_view path, const PathOf& pathOf) {
        if (table_.empty()) return false;
        const size_t mask = table_.size() - 1;
        size_t i = hash(path) & mask;
        for (;; i = (i + 1) & mask) {
            if (table_[i] == empty) return false;
            if (pathOf(table_[i]) == path) break;
        }
        // Backward shift: later entries of the probe run move into the hole,
        // so no search ever stops early at it.
        table_[i] = empty;
        for (size_t j = (i + 1) & mask; table_[j] != empty; j = (j + 1) & mask) {
            const size_t home = hash(pathOf(table_[j])) & mask;
            const bool between = i <= j ? (home > i && home <= j) : (home > i || home <= j);
            if (!between) {
                table_[i] = table_[j];
                table_[j] = empty;
                i = j;
            }
        }
        --size_;
        return true;
    }

    void clear() {
        table_.clear();
        size_ = 0;
    }
    size_t size() const { return size_; }
    // Room for `count` entries without growing; only on an empty table.
    void reserve(size_t count) {
        if (size_ != 0) return;
        size_t n = 16;
        while (n < count * 2) n *= 2;
        if (n > table_.size()) table_.assign(n, empty);
    }

private:
    static constexpr Slot empty = UINT32_MAX;
    static size_t hash(std::string_view path) { return std::hash<std::string_view>{}(path); }
    template <class PathOf>
    void grow(const PathOf& pathOf) {
        std::vector<Slot> old;
        old.swap(table_);
        table_.assign(old.empty() ? 16 : old.size() * 2, empty);
        size_ = 0;
        for (Slot s : old)
            if (s != empty) insert(s, pathOf);
    }

    std::vector<Slot> table_;  // a power of two in size, at most half full
    size_t size_ = 0;
};

// What an index kept only to search holds per slot instead of a record: the
// path for lookups and the date for ordering, the paths in one block.
struct ThinRecords {
    std::string paths;
    std::vector<size_t> ends;  // per slot: where its path ends in `paths`
    std::vector<Date> dates;
    std::vector<bool> live;

    std::string_view path(Slot s) const {
        const size_t begin = s == 0 ? 0 : ends[s - 1];
        return std::string_view(paths).substr(begin, ends[s] - begin);
    }
    void push(std::string_view path, Date date, bool isLive) {
        paths.append(path);
        ends.push_back(paths.size());
        dates.push_back(date);
        live.push_back(isLive);
    }
};

}  // namespace bx::indexstorage
