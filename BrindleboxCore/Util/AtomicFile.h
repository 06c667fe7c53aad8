#pragma once
// File writes that never leave a half-written file under the final name.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Util/Date.h"

namespace bx {

// Writes to a temp file in the same folder, fsyncs it, renames it over `path`
// and fsyncs the folder. Throws std::system_error; on failure the old file,
// if any, is untouched and no temp file is left behind.
void writeFileAtomically(const std::filesystem::path& path, std::string_view data);

// Creates `path` with `data` only if no file of that name exists. The data goes
// to a temp file first (fsynced, modification time set when given), then is
// linked to the final name, which fails if the name exists: a concurrent
// writer can never replace a stored file and no partial file ever carries the
// final name. Returns false when the name is taken; throws std::system_error
// on any other failure (disk full, read-only folder ...), leaving nothing behind.
bool createFileExclusive(const std::filesystem::path& path, std::string_view data,
                         std::optional<Date> modificationTime = std::nullopt);

// Whole file contents; nullopt when the file is missing or unreadable.
std::optional<std::string> readFile(const std::filesystem::path& path);

// Whole file contents; throws std::system_error on any failure.
std::string readFileOrThrow(const std::filesystem::path& path);

// Sets access and modification time. Throws std::system_error.
void setModificationTime(const std::filesystem::path& path, Date when);

// A private folder for temporary files of this user (mode 0700), below $TMPDIR
// or /tmp, created on first use.
std::filesystem::path privateTempDirectory();

}  // namespace bx
