#include "Index/VaultScan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <system_error>

#include "Index/SearchIndex.h"
#include "Util/AtomicFile.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

bool isHidden(const std::filesystem::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] == '.';
}

bool hasEmlExtension(const std::filesystem::path& p) {
    return asciiEqualsIgnoringCase(p.extension().string(), ".eml");
}

double modificationTime(const std::filesystem::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return 0;
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
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

std::map<std::string, double> VaultScan::walk(const std::filesystem::path& root) {
    std::map<std::string, double> out;
    std::error_code ec;
    std::filesystem::recursive_directory_iterator it(root, std::filesystem::directory_options::skip_permission_denied,
                                                     ec);
    if (ec) return out;
    const std::filesystem::recursive_directory_iterator end;
    while (it != end) {
        const std::filesystem::directory_entry& entry = *it;
        if (isHidden(entry.path())) {
            if (entry.is_directory(ec)) it.disable_recursion_pending();
        } else if (hasEmlExtension(entry.path()) && entry.is_regular_file(ec)) {
            std::string rel = relativePath(root, entry.path());
            if (!rel.empty()) out[std::move(rel)] = modificationTime(entry.path());
        }
        it.increment(ec);
        if (ec) break;
    }
    return out;
}

VaultScan::Result VaultScan::run(SearchIndex& index, const ArchiveLayout& layout, std::stop_token stop,
                                 const Events& events) {
    Result result;
    const std::map<std::string, double> onDisk = walk(layout.root);

    std::vector<std::string> removed;
    for (const auto& slot : index.records()) {
        if (slot && !onDisk.count(slot->path)) removed.push_back(slot->path);
    }
    for (const auto& path : removed) index.remove(path);
    if (!removed.empty()) result.changed = true;

    std::vector<std::string> toAdd;
    for (const auto& [path, mtime] : onDisk) {
        const auto slot = index.slot(path);
        if (!slot) {
            toAdd.push_back(path);
            continue;
        }
        const auto& rec = index.records()[*slot];
        if (!rec || std::fabs(rec->mtime - mtime) > mtimeTolerance) toAdd.push_back(path);
    }
    // std::map iterates in ascending byte order already.
    if (events.removed && !removed.empty()) events.removed(std::move(removed));
    if (events.planned) events.planned(toAdd.size());

    std::vector<MessageRecord> batch;
    size_t i = 0;
    for (const auto& path : toAdd) {
        ++i;
        if (stop.stop_requested()) return result;
        const auto file = layout.resolve(path);
        if (!file) continue;
        std::optional<std::string> data = events.read ? events.read(*file) : readFile(*file);
        if (!data) continue;
        auto [record, text] = SearchIndex::makeRecord(*data, path, onDisk.at(path));
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
