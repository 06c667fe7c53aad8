#include "Index/VaultScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <system_error>
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
    size_t i = 0;
    for (const auto* entry : toAdd) {
        const std::string& path = entry->first;
        ++i;
        if (stop.stop_requested()) return result;
        const auto file = layout.resolve(path);
        if (!file) continue;
        std::optional<std::string> data = events.read ? events.read(*file) : readFile(*file);
        if (!data) continue;
        auto [record, text] = SearchIndex::makeRecord(*data, path, entry->second);
        index.add(record, text);
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
