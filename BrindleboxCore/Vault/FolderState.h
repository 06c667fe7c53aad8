#pragma once
// What the vault remembers about one mail folder between backups.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "Util/Date.h"
#include "Util/Json.h"

namespace bx {

struct FolderState {
    std::string mailbox;    // raw mailbox name on the server
    std::string directory;  // vault-relative: account folder "/" mail folder
    std::uint32_t uidValidity = 0;
    std::uint32_t highestUID = 0;  // every new UID up to this one is stored
    std::map<std::string, std::string> files;  // decimal UID -> vault-relative .eml path
    std::optional<Date> lastRun;
    std::optional<std::map<std::string, std::int64_t>> sizes;  // decimal UID -> recorded size

    FolderState() = default;
    FolderState(std::string mailbox, std::string directory, std::uint32_t uidValidity)
        : mailbox(std::move(mailbox)), directory(std::move(directory)), uidValidity(uidValidity) {}

    friend bool operator==(const FolderState&, const FolderState&) = default;
};

// Strict JSON form: "mailbox", "directory", "uidValidity", "highestUID" and
// "files" are required, "lastRun" and "sizes" optional; unknown keys ignored.
template <>
struct JSONCodec<FolderState> {
    static FolderState decode(const json& v, const std::string& path);
    static json encode(const FolderState& s);
};

// Appends the compact JSON text of `s` (same form as the codec) to `out`,
// without building a document first: the sync file is rewritten after every
// batch and grows with the folder.
void appendJSON(std::string& out, const FolderState& s);

void appendJSONNumber(std::string& out, std::int64_t n);

// Pieces for writers that keep the text of a growing folder between saves:
// the comma-separated members of "files" and "sizes", and the whole object
// with those members given as text (nullptr: rendered from `s`).
void appendFileEntries(std::string& out, const FolderState& s);
void appendSizeEntries(std::string& out, const FolderState& s);
void appendJSON(std::string& out, const FolderState& s, const std::string* fileEntries,
                const std::string* sizeEntries);

}  // namespace bx
