#pragma once
// Where everything in the vault lives, and the one way message files get
// written into it.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Util/Date.h"
#include "Util/UUID.h"
#include "Vault/AccountSyncState.h"

namespace bx {

struct MailAccount;
class FileHandle;

// A vault-relative path that would leave the vault (absolute, or with an
// empty, "." or ".." component).
class UnsafePathError : public std::runtime_error {
public:
    explicit UnsafePathError(const std::string& relative)
        : std::runtime_error("Refused a path outside the vault: " + relative) {}
};

struct ArchiveLayout {
    std::filesystem::path root;

    ArchiveLayout() = default;
    explicit ArchiveLayout(std::filesystem::path root) : root(std::move(root)) {}

    // The user's documents folder (XDG_DOCUMENTS_DIR, else ~/Documents) + "Brindlebox".
    static std::filesystem::path defaultRoot();

    std::filesystem::path metaDirectory() const { return root / ".brindlebox"; }
    std::filesystem::path indexURL() const { return metaDirectory() / "index.json"; }
    std::filesystem::path accountsURL() const { return metaDirectory() / "accounts.json"; }
    std::filesystem::path filtersURL() const { return metaDirectory() / "filters.json"; }
    std::filesystem::path syncURL(const MailAccount& account) const;
    std::filesystem::path syncURL(const UUID& accountID) const;

    // Creates the state folder and any missing parents. Throws std::system_error,
    // also when the state folder is a link.
    void ensure() const;

    // Where the backup appends each batch's entries between two saves of the
    // sync file (AccountSyncState::applyJournal). Every save of the sync file
    // removes it; every load applies what a kill left in it.
    std::filesystem::path syncJournalURL(const UUID& accountID) const;

    // Never fails: a missing, unreadable or undecodable file is the empty state
    // (with what the journal holds applied).
    AccountSyncState loadSync(const MailAccount& account) const;
    AccountSyncState loadSync(const UUID& accountID) const;

    // Written to a temp file beside it, synced, then renamed. Throws std::system_error.
    void saveSync(const AccountSyncState& state, const MailAccount& account) const;
    void saveSync(const AccountSyncState& state, const UUID& accountID) const;
    // The same with the state already rendered (AccountSyncState::toJSON form).
    void saveSyncText(std::string_view json, const MailAccount& account) const;
    void saveSyncText(std::string_view json, const UUID& accountID) const;
    // Appends journal lines (each a FolderState JSON object and "\n") and
    // syncs them. Throws std::system_error.
    void appendSyncJournal(std::string_view lines, const MailAccount& account) const;

    // True when `relative` is a non-empty "/"-separated path whose components
    // are all non-empty, not "." or "..", and hold no NUL.
    static bool isSafeRelativePath(std::string_view relative);

    // `root` with each component of `relative` appended. Throws UnsafePathError
    // for a path that fails isSafeRelativePath.
    std::filesystem::path url(std::string_view relative) const;
    // The same, as nullopt instead of throwing.
    std::optional<std::filesystem::path> resolve(std::string_view relative) const;

    // The bytes of the regular file at `relative`, reached from the root
    // without following any link; nullopt when there is none or it cannot be
    // read.
    std::optional<std::string> readRegularFile(std::string_view relative) const;

    // Stores message bytes at `relative` (or, when another message holds that
    // name, at "<stem> (2).eml", "(3)" ...) and returns the path used. Bytes
    // equal to a file already there are not written again: that file's path is
    // returned and the file is left untouched. An existing file is never
    // replaced, also not by a concurrent writer. The new file's modification
    // time is `date` (Linux keeps no settable creation date). Throws
    // std::system_error when the folder or the file cannot be made (also when
    // a folder on the way is a symbolic link), and UnsafePathError for a path
    // outside the vault.
    // With Durability::deferred the new file is not flushed to disk here; the
    // caller flushes a whole batch with syncFiles() before recording it.
    enum class Durability { immediate, deferred };
    std::string write(std::string_view data, std::string_view relative, Date date,
                      Durability durability = Durability::immediate) const;

    // Flushes the data of these vault files and the folders that name them.
    // Throws std::system_error when the disk reports a failure.
    void syncFiles(const std::vector<std::string>& relatives) const;

    // The state folder, made when missing, reached without following links.
    // Throws std::system_error.
    FileHandle openStateFolder() const;
};

}  // namespace bx
