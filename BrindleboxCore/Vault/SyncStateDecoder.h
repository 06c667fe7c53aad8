#pragma once
// Decodes a sync file straight from its text, without building a document
// first: a rerun of a large account reads it before anything else. The rules
// are those of the typed decoding in Util/Json.h (required keys, no nulls
// for them, whole numbers in range, ISO-8601 dates, unknown keys ignored).
#include <map>
#include <string>
#include <string_view>

#include "Vault/FolderState.h"

namespace bx {

// The "folders" member of a sync file, undecoded paths included. Throws
// JSONDecodeError.
std::map<std::string, FolderState> decodeSyncFolders(std::string_view text);

}  // namespace bx
