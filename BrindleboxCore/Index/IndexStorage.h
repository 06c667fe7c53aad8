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

using Records = std::vector<std::optional<MessageRecord>>;

// Path → slot, an open-addressing table of slots; the paths themselves are
// read from the records. Every slot in the table must hold a live record.
class PathSlots {
public:
    std::optional<Slot> find(std::string_view path, const Records& records) const;
    // Maps the path of records[slot] to slot, replacing an entry for the same path.
    void insert(Slot slot, const Records& records);
    // Removes the entry for `path`; true when there was one.
    bool erase(std::string_view path, const Records& records);
    void clear() {
        table_.clear();
        size_ = 0;
    }
    size_t size() const { return size_; }

private:
    static constexpr Slot empty = UINT32_MAX;
    static size_t hash(std::string_view path) { return std::hash<std::string_view>{}(path); }
    void grow(const Records& records);

    std::vector<Slot> table_;  // a power of two in size, at most half full
    size_t size_ = 0;
};

}  // namespace bx::indexstorage
