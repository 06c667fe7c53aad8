#pragma once
// The one reader and writer of sync state text: the sync file
// ({"folders":{"<mailbox>":{...},...}}) and the lines of its journal (one
// folder state each). One field table of the folder record drives both.
//
// Reading is strict and needs no document tree (a rerun of a large account
// reads the file before anything else): required keys present and not null,
// whole numbers in range, ISO-8601 dates; null for an optional key is
// absence; unknown keys are ignored; a key given twice counts the last time.
// Folder states whose directory, and paths, that would leave the vault
// (empty, "." or ".." components, absolute paths) are dropped: a tampered
// file must never make a backup write, or anything read, outside the vault.
#include <cstdint>
#include <functional>
#include <optional>
#include <istream>
#include <string>
#include <string_view>

#include "Vault/SyncFolder.h"

namespace bx {

// The sync file in the one form writeSyncFile gives it, read by hand: no
// spaces, the keys in the writer's order, numbers as it writes them. A rerun
// of a large account reads the whole file before anything else, and a
// general JSON reader spends most of that time on what this form never has.
// nullopt for any other text, even valid JSON: the general reader decides
// those. Never a part of a file: text cut short is nullopt too.
std::optional<SyncFolders> decodeWrittenSyncFile(std::string_view text);
// The same in pieces: read(buffer, capacity) puts up to capacity bytes in
// buffer and returns their count, 0 at the end. Throws what `read` throws.
std::optional<SyncFolders> decodeWrittenSyncFile(const std::function<std::size_t(char*, std::size_t)>& read);

// Any JSON text of the sync file's shape, as the comment above says (hand
// edits, spaces, keys in any order). Throws JSONDecodeError.
SyncFolders decodeAnySyncFile(std::string_view text);
SyncFolders decodeAnySyncFile(std::istream& in);

// The written form when the text is in it, else any form. Throws
// JSONDecodeError.
SyncFolders decodeSyncFile(std::string_view text);
// The same for the file open at `fd`, read from its start; a file that
// cannot be read throws JSONDecodeError too.
SyncFolders readSyncFile(int fd);

// One journal line's folder state; throws JSONDecodeError. Unlike the file,
// a line whose directory would leave the vault is refused as a whole.
SyncFolder decodeSyncFolder(std::string_view text);

// Appends the compact JSON text of one folder state. With `drain`, `out` is
// handed to it (which empties it) whenever it has grown to a piece.
void appendSyncFolder(std::string& out, const SyncFolder& folder);
void appendSyncFolder(std::string& out, const SyncFolder& folder, const std::function<void(std::string&)>* drain);

// Whose mail a sync file records: the server and login it was fetched
// from. Kept beside the folders (key "account", before "folders") so that
// an account added again for the same login can take the file over when
// the account that wrote it is gone. Readers of the folders ignore it.
struct SyncOwner {
    std::string host;
    std::uint16_t port = 0;
    std::string username;

    // Host without regard to case, port and login exactly.
    bool matches(const SyncOwner& other) const;
    friend bool operator==(const SyncOwner&, const SyncOwner&) = default;
};

// The sync file's text, handed to `write` in pieces of about 64 KB so that
// a large state is never rendered whole; with an owner, its "account" member
// comes first.
void writeSyncFile(const SyncFolders& folders, const std::function<void(std::string_view)>& write,
                   const SyncOwner* owner = nullptr);

// The owner a sync file names; nullopt when it names none, or the text is
// not a sync file. The folders are read past, not kept.
std::optional<SyncOwner> readSyncOwner(std::istream& in);

// Applies journal lines: each complete line is one folder state holding only
// the entries one batch added. Its mailbox, directory and UIDVALIDITY replace
// the folder's (a different UIDVALIDITY starts the folder afresh), its
// highest UID and last run count when later, and its files and sizes are
// added. Lines that do not decode are skipped.
void applySyncJournal(SyncFolders& folders, std::string_view lines);

}  // namespace bx
