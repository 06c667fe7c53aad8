#include "Index/IndexStorage.h"

namespace bx::indexstorage {

std::optional<Slot> PathSlots::find(std::string_view path, const Records& records) const {
    if (table_.empty()) return std::nullopt;
    const size_t mask = table_.size() - 1;
    for (size_t i = hash(path) & mask;; i = (i + 1) & mask) {
        const Slot s = table_[i];
        if (s == empty) return std::nullopt;
        if (records[s]->path == path) return s;
    }
}

void PathSlots::insert(Slot slot, const Records& records) {
    if ((size_ + 1) * 2 > table_.size()) grow(records);
    const std::string_view path = records[slot]->path;
    const size_t mask = table_.size() - 1;
    for (size_t i = hash(path) & mask;; i = (i + 1) & mask) {
        Slot& s = table_[i];
        if (s == empty) {
            s = slot;
            ++size_;
            return;
        }
        if (records[s]->path == path) {
            s = slot;
            return;
        }
    }
}

bool PathSlots::erase(std::string_view path, const Records& records) {
    if (table_.empty()) return false;
    const size_t mask = table_.size() - 1;
    size_t i = hash(path) & mask;
    for (;; i = (i + 1) & mask) {
        if (table_[i] == empty) return false;
        if (records[table_[i]]->path == path) break;
    }
    // Backward shift: later entries of the probe run move into the hole, so
    // no search ever stops early at it.
    table_[i] = empty;
    for (size_t j = (i + 1) & mask; table_[j] != empty; j = (j + 1) & mask) {
        const size_t home = hash(records[table_[j]]->path) & mask;
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

void PathSlots::grow(const Records& records) {
    std::vector<Slot> old;
    old.swap(table_);
    table_.assign(old.empty() ? 16 : old.size() * 2, empty);
    size_ = 0;
    for (Slot s : old)
        if (s != empty) insert(s, records);
}

}  // namespace bx::indexstorage
