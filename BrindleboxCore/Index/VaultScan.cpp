#include "Index/VaultScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "Index/SearchIndex.h"
#include "Util/AtomicFile.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

bool hasEmlExtension(std::string_view name) {
    return name.size() > 4 && asciiEqualsIgnoringCase(name.substr(name.size() - 4), ".eml");
}

double seconds(const struct timespec& t) { return double(t.tv_sec) + double(t.tv_nsec) / 1e9; }

// One directory, opened relative to its parent: the walk costs one stat per
// message file (its time) and none per folder, and builds each relative path
// by appending to the parent's rather than from path components.
void walkDirectory(int fd, std::string& prefix, std::vector<std::pair<std::string, double>>& out) {
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        // Hidden files and folders (and "." and "..") are never visited.
        if (name[0] == '.') continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            // A folder that cannot be opened (no permission) is passed over.
            const int child = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) continue;
            const size_t length = prefix.size();
            prefix += name;
            prefix += '/';
            walkDirectory(child, prefix, out);
            prefix.resize(length);
            continue;
        }
        // A link counts when it leads to a regular file; folders behind
        // links are not followed.
        if ((type != DT_REG && type != DT_LNK) || !hasEmlExtension(name)) continue;
        struct stat st {};
        const bool known = ::fstatat(::dirfd(dir), name, &st, 0) == 0;
        if (known ? !S_ISREG(st.st_mode) : type != DT_REG) continue;
        out.emplace_back(prefix + name, known ? seconds(st.st_mtim) : 0.0);
    }
    ::closedir(dir);
}

// Makes items 0 to count - 1 on worker threads, at most `window` ahead of
// the one taken last, and hands them to the calling thread in order; with no
// worker the calling thread makes each one as it is taken. Whatever the
// workers, the consumer sees the same items in the same order.
template <class T>
class InOrder {
public:
    InOrder(size_t count, unsigned workers, size_t window, std::function<T(size_t)> make)
        : count_(count), window_(std::max<size_t>(window, 1)), make_(std::move(make)) {
        if (workers == 0) return;
        cells_.resize(window_);
        for (unsigned w = 0; w < workers; ++w) threads_.emplace_back([this] { work(); });
    }
    ~InOrder() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        room_.notify_all();
        for (auto& t : threads_) t.join();
    }
    InOrder(const InOrder&) = delete;
    InOrder& operator=(const InOrder&) = delete;

    // Item i; called for 0, 1, 2, ... in turn. Rethrows what making it threw.
    T take(size_t i) {
        if (threads_.empty()) return make_(i);
        Cell cell;
        {
            std::unique_lock lock(mutex_);
            Cell& slot = cells_[i % window_];
            ready_.wait(lock, [&] { return slot.ready; });
            cell = std::move(slot);
            slot = Cell();
            taken_ = i + 1;
        }
        room_.notify_all();
        if (cell.error) std::rethrow_exception(cell.error);
        return std::move(*cell.value);
    }

private:
    struct Cell {
        std::optional<T> value;
        std::exception_ptr error;
        bool ready = false;
    };

    void work() {
        for (;;) {
            size_t i = 0;
            {
                std::unique_lock lock(mutex_);
                room_.wait(lock, [&] { return stopping_ || next_ >= count_ || next_ < taken_ + window_; });
                if (stopping_ || next_ >= count_) return;
                i = next_++;
            }
            Cell cell;
            try {
                cell.value.emplace(make_(i));
            } catch (...) {
                cell.error = std::current_exception();
            }
            cell.ready = true;
            {
                std::lock_guard lock(mutex_);
                cells_[i % window_] = std::move(cell);
            }
            ready_.notify_all();
        }
    }

    const size_t count_, window_;
    const std::function<T(size_t)> make_;
    std::vector<Cell> cells_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    size_t next_ = 0, taken_ = 0;
    bool stopping_ = false;
};

// One file made ready for the index: its record and its distinct tokens.
struct Prepared {
    MessageRecord record;
    std::vector<std::string> tokens;
};

// Reading and parsing a file and tokenizing its text is nearly all the work
// of indexing, and each file's is independent of the others': a few threads
// do it, while the calling thread adds the results in the order of the
// paths. A caller's own reader is called on the calling thread alone.
unsigned indexingWorkers(const VaultScan::Events& events) {
    if (events.read) return 0;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::min(4u, cores - 1);
}

}  // namespace

std::string VaultScan::relativePath(const std::filesystem::path& root, const std::filesystem::path& file) {
    // Component by component from the root the walk used, so a root spelled
    // with a trailing slash, a symlink or another normalisation still gives
    // the same relative paths.
    auto r = root.begin();
    auto f = file.begin();
    for (; r != root.end(); ++r) {
        if (r->empty()) continue;  // trailing separator
        if (f == file.end() || *f != *r) return {};
        ++f;
    }
    std::string out;
    for (; f != file.end(); ++f) {
        if (f->empty()) continue;
        if (!out.empty()) out += '/';
        out += f->string();
    }
    return out;
}

std::vector<std::pair<std::string, double>> VaultScan::walk(const std::filesystem::path& root) {
    std::vector<std::pair<std::string, double>> out;
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return out;
    std::string prefix;
    walkDirectory(fd, prefix, out);
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

bool VaultScan::matches(const std::vector<std::pair<std::string, double>>& onDisk,
                        const std::vector<MessageRecord>& records) {
    if (onDisk.size() != records.size()) return false;
    std::unordered_map<std::string_view, double> times;
    times.reserve(records.size());
    for (const MessageRecord& r : records) times.emplace(r.path, r.mtime);
    if (times.size() != onDisk.size()) return false;
    for (const auto& [path, mtime] : onDisk) {
        const auto it = times.find(path);
        if (it == times.end() || std::fabs(it->second - mtime) > mtimeTolerance) return false;
    }
    return true;
}

VaultScan::Result VaultScan::run(SearchIndex& index, const ArchiveLayout& layout, std::stop_token stop,
                                 const Events& events) {
    return run(index, layout, walk(layout.root), std::move(stop), events);
}

VaultScan::Result VaultScan::run(SearchIndex& index, const ArchiveLayout& layout,
                                 std::vector<std::pair<std::string, double>> onDisk, std::stop_token stop,
                                 const Events& events) {
    Result result;
    auto onDiskAt = [&](std::string_view path) {
        const auto it = std::lower_bound(onDisk.begin(), onDisk.end(), path,
                                         [](const auto& entry, std::string_view p) { return entry.first < p; });
        return it != onDisk.end() && it->first == path ? &*it : nullptr;
    };

    std::vector<std::string> removed;
    for (const auto& slot : index.records()) {
        if (slot && !onDiskAt(slot->path)) removed.push_back(slot->path);
    }
    for (const auto& path : removed) index.remove(path);
    if (!removed.empty()) result.changed = true;

    std::vector<const std::pair<std::string, double>*> toAdd;
    for (const auto& entry : onDisk) {
        const auto& [path, mtime] = entry;
        const auto slot = index.slot(path);
        if (!slot) {
            toAdd.push_back(&entry);
            continue;
        }
        const auto& rec = index.records()[*slot];
        if (!rec || std::fabs(rec->mtime - mtime) > mtimeTolerance) toAdd.push_back(&entry);
    }
    // The walk sorted its paths in ascending byte order already.
    if (events.removed && !removed.empty()) events.removed(std::move(removed));
    if (events.planned) events.planned(toAdd.size());

    std::vector<MessageRecord> batch;
    const unsigned workers = indexingWorkers(events);
    InOrder<std::optional<Prepared>> prepared(
        toAdd.size(), workers, 64 * size_t(workers), [&](size_t k) -> std::optional<Prepared> {
            const auto& [path, mtime] = *toAdd[k];
            const auto file = layout.resolve(path);
            if (!file) return std::nullopt;
            std::optional<std::string> data = events.read ? events.read(*file) : readFile(*file);
            if (!data) return std::nullopt;
            auto [record, text] = SearchIndex::makeRecord(*data, path, mtime);
            return Prepared{std::move(record), SearchIndex::distinctTokens(text)};
        });
    size_t i = 0;
    for (const auto* entry : toAdd) {
        const std::string& path = entry->first;
        ++i;
        if (stop.stop_requested()) return result;
        std::optional<Prepared> ready = prepared.take(i - 1);
        if (!ready) continue;
        index.addTokenized(std::move(ready->record), std::move(ready->tokens));
        result.changed = true;
        ++result.indexed;
        if (events.batch) {
            if (auto live = index.record(path)) batch.push_back(std::move(*live));
            if (i % batchSize == 0) {
                events.batch(i, toAdd.size(), std::move(batch));
                batch.clear();
            }
        }
    }
    if (stop.stop_requested()) return result;

    if (result.changed) {
        if (index.records().size() > 2 * index.count() + 100) index.compact();
        try {
            // The state folder is made only inside a vault that exists: a
            // missing root (an unmounted drive) is not created anew.
            std::error_code ec;
            if (std::filesystem::is_directory(layout.root, ec)) layout.ensure();
            index.save(layout.indexURL());
        } catch (...) {
        }
    }
    result.completed = true;
    return result;
}

}  // namespace bx
