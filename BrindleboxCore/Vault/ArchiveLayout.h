#pragma once
// Where everything in the vault lives, and the one way message files get
// written into it.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Util/Date.h"
#include "Util/FileHandle.h"
#include "Util/UUID.h"
#include "Vault/AccountSyncState.h"

namespace bx {

struct MailAccount;
struct SyncOwner;

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
    // sync file (applySyncJournal). Every save of the sync file removes it;
    // every load applies what a kill left in it.
    std::filesystem::path syncJournalURL(const UUID& accountID) const;
    // The journal's length in bytes; 0 when there is none.
    std::uint64_t syncJournalBytes(const UUID& accountID) const;

    // Never fails: a missing, unreadable or undecodable file is the empty state
    // (with what the journal holds applied).
    AccountSyncState loadSync(const MailAccount& account) const;
    AccountSyncState loadSync(const UUID& accountID) const;
    // The same in the compact form the backup works on.
    SyncFolders loadSyncFolders(const UUID& accountID) const;

    // Written to a temp file beside it, synced, then renamed. Throws std::system_error.
    // Given the account, the file also names its server and login (SyncOwner).
    void saveSync(const AccountSyncState& state, const MailAccount& account) const;
    void saveSync(const AccountSyncState& state, const UUID& accountID) const;
    void saveSync(const SyncFolders& folders, const UUID& accountID) const;
    void saveSync(const SyncFolders& folders, const MailAccount& account) const;

    // Gives `account` the sync state that a gone account of the same login
    // left: the newest sync file that names the account's server and login
    // and whose id is not among `current` becomes the account's own, so its
    // backups go on in the same folders from where that one stopped. Nothing
    // happens when the account already has state. Returns whether a file was
    // taken over. Never throws.
    bool adoptSync(const MailAccount& account, const std::vector<UUID>& current) const;
    // Names the account's server and login in its sync file when the file
    // holds state but names no owner yet (written before files named
    // theirs), so that adoptSync can find it once the account is gone.
    // Never throws.
    void nameSyncOwner(const MailAccount& account) const;
    // Appends one journal line per folder state (each holding one batch's
    // entries) and syncs them. Throws std::system_error.
    void appendSyncJournal(const SyncFolder& batch, const UUID& accountID) const;
    // The same with the lines already rendered (each ending in "\n").
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
    // The folders a run of writes last used, kept open: a backup writes
    // thousands of files into a few folders, and opening each folder anew
    // from the root costs more than writing the file. Opened as write()
    // opens them, so no link is followed.
    struct OpenFolders;
    std::string write(std::string_view data, std::string_view relative, Date date, Durability durability,
                      OpenFolders& open) const;

    // Flushes the data of these vault files and the folders that name them.
    // Throws std::system_error when the disk reports a failure.
    void syncFiles(const std::vector<std::string>& relatives) const;

    // The .eml files (extension in any case) below the vault folder
    // `directory`, only plain files: a link is never taken for a message, as
    // it could name anything outside the vault. Both are empty for a missing
    // folder or a path that would leave the vault.
    // Byte length -> vault-relative paths.
    std::map<std::int64_t, std::vector<std::string>> filesBySize(const std::string& directory) const;
    // By the UID that ends their name ("2024-03-07 Subject 4711.eml"), as
    // vault-relative paths; files are visited in path order and the first
    // file for a UID wins.
    std::map<std::uint32_t, std::string> filesByUID(const std::string& directory) const;

    // The account's folder in the vault: where its sync state files its mail
    // (the folder most of its mailboxes use); for an account without state,
    // its directoryName, unless another account's sync state already files
    // mail there (two accounts with the same label): then one of its own,
    // marked with the start of its id. Mail of this account is found, and
    // new mailboxes are filed, only here.
    std::string accountFolder(const MailAccount& account) const;

    // The state folder, made when missing, reached without following links.
    // Throws std::system_error.
    FileHandle openStateFolder() const;

private:
    void writeSync(const SyncFolders& folders, const UUID& accountID, const SyncOwner* owner) const;
};

struct ArchiveLayout::OpenFolders {
    FileHandle root;
    std::optional<std::string> path;  // vault-relative, of `folder`
    FileHandle folder;
};

}  // namespace bx
