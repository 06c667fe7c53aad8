#pragma once
// File writes that never leave a half-written file under the final name.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Util/Date.h"

namespace bx {

// Writes to a temp file in the same folder, fsyncs it, renames it over `path`
// and fsyncs the folder. Throws std::system_error; on failure the old file,
// if any, is untouched and no temp file is left behind. Temp files of the same
// name that a killed writer left are removed after the rename. A new file is
// readable by its owner only (0600); a replaced file keeps its permissions.
// Every file and folder made by the functions here is owner-only.
void writeFileAtomically(const std::filesystem::path& path, std::string_view data);
// The same for the file `name` in the open folder `dir`; `shown` names the
// file in error texts.
void writeFileAtomicallyAt(int dir, const std::string& name, std::string_view data, const std::filesystem::path& shown);
// The same with the bytes produced in pieces: `produce` calls the function it
// is given once per piece, so a large file need not be held whole.
using PieceWriter = std::function<void(const std::function<void(std::string_view)>&)>;
void writeFileAtomicallyAt(int dir, const std::string& name, const PieceWriter& produce,
                           const std::filesystem::path& shown);
void writeFileAtomically(const std::filesystem::path& path, const PieceWriter& produce);

// Creates `path` with `data` only if no file of that name exists. The bytes go
// to an unnamed file in the target folder (O_TMPFILE; a named temp file where
// the file system lacks it), dated `modificationTime` when given, which then
// gets its name by a link that fails if the name exists: a concurrent writer
// can never replace a stored file, and an interruption at any point (even
// SIGKILL) leaves no partial file under the final name. With `flush` the file
// and its folder are synced before returning. Returns false when the name is
// taken; throws std::system_error on any other failure (ENOENT when the folder
// is missing, disk full, read-only folder ...), leaving nothing behind.
bool createFileExclusive(const std::filesystem::path& path, std::string_view data,
                         std::optional<Date> modificationTime = std::nullopt, bool flush = true);
// The same for the file `name` in the open folder `dir`.
bool createFileExclusiveAt(int dir, const std::string& name, std::string_view data,
                           std::optional<Date> modificationTime, bool flush, const std::filesystem::path& shown);

// Appends whole lines (each ending in "\n") to the file `name` in the open
// folder `dir`, made when missing and never reached through a link. A last
// line that an earlier writer left without its end is cut off first. With
// `flush` the data is synced. Throws std::system_error.
void appendLines(int dir, const std::string& name, std::string_view lines, bool flush,
                 const std::filesystem::path& shown);
// The complete lines of such a file; empty when it is missing or unreadable.
std::string readCompleteLines(int dir, const std::string& name);

// Whole file contents; nullopt when the file is missing or unreadable.
std::optional<std::string> readFile(const std::filesystem::path& path);

// Whole file contents; throws std::system_error on any failure.
std::string readFileOrThrow(const std::filesystem::path& path);

// What the open file `fd` holds from its position on; nullopt (errno set)
// when reading fails.
std::optional<std::string> readAll(int fd);
// The same for a regular file known to be `size` bytes long.
std::optional<std::string> readAll(int fd, size_t size);

// Sets access and modification time. Throws std::system_error.
void setModificationTime(const std::filesystem::path& path, Date when);

// Makes `path` and its missing parents as owner-only folders (0700);
// folders that exist are left as they are. Throws std::system_error.
void createPrivateDirectories(const std::filesystem::path& path);

// A private folder for temporary files of this user (mode 0700), below $TMPDIR
// or /tmp, created on first use.
std::filesystem::path privateTempDirectory();

}  // namespace bx
