#pragma once
// Keeps the search index in step with the message files of a vault: drops
// records whose file is gone, (re)indexes files that are new or whose
// modification time moved by more than a second, compacts and saves. Runs on
// one worker; the index is touched by nobody else meanwhile.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "Index/MessageRecord.h"
#include "Vault/ArchiveLayout.h"

namespace bx {

class SearchIndex;

struct VaultScan {
    // Vault-relative path ("/" between components) and modification time in
    // seconds since 1970 (0 when unreadable) of every *.eml file (extension
    // in any case) below root, skipping hidden files and folders, in
    // ascending byte order of the paths. A root that cannot be walked gives
    // nothing.
    static std::vector<std::pair<std::string, double>> walk(const std::filesystem::path& root);

    // The walk found exactly the files of `records` (one record per path),
    // each within the tolerance of its record's time: a scan would change
    // nothing.
    static bool matches(const std::vector<std::pair<std::string, double>>& onDisk,
                        const std::vector<MessageRecord>& records);

    // The path of `file` below `root`, by path components; empty when `file`
    // is not below `root`.
    static std::string relativePath(const std::filesystem::path& root, const std::filesystem::path& file);

    struct Events {
        // After the walk and the comparison: the number of files to index.
        std::function<void(size_t total)> planned;
        // Every `batchSize` indexed files: the count so far, the total and the
        // records added since the previous report, in the order added.
        std::function<void(size_t done, size_t total, std::vector<MessageRecord> added)> batch;
        // Paths removed before any file was indexed (deleted files).
        std::function<void(std::vector<std::string> removed)> removed;
        // Reads a message file; defaults to reading it whole.
        std::function<std::optional<std::string>(const std::filesystem::path&)> read;
    };

    struct Result {
        bool completed = false;  // false: stopped; nothing was saved
        bool changed = false;
        size_t indexed = 0;
    };

    static constexpr size_t batchSize = 50;
    static constexpr double mtimeTolerance = 1.0;

    static Result run(SearchIndex& index, const ArchiveLayout& layout, std::stop_token stop, const Events& events);
    // The same with the walk of layout.root already done.
    static Result run(SearchIndex& index, const ArchiveLayout& layout,
                      std::vector<std::pair<std::string, double>> onDisk, std::stop_token stop,
                      const Events& events);
};

}  // namespace bx
