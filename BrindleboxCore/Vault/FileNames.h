#pragma once
// How account labels, mailbox names, subjects and dates become folder and file
// names inside the vault. Every path the backup and the importer write, and
// every path read back later, is built here, so the same input must give the
// same name on every run.
#include <optional>
#include <string>
#include <string_view>

#include "Util/Date.h"

namespace bx {

struct IMAPMailbox;

struct FileNames {
    // Cleans a text for use as one path component: line breaks, tabs, control
    // characters and / \ : * ? " < > | become spaces, runs of spaces collapse,
    // white space is trimmed, leading dots are removed, and the result is cut
    // to `max` characters and `maxBytes` UTF-8 bytes without splitting a
    // character. May return the empty text; the caller picks the fallback.
    static std::string sanitize(std::string_view text, int max, int maxBytes);

    // The longest prefix of whole characters that fits in `bytes` UTF-8 bytes.
    static std::string truncateUTF8(std::string_view text, int bytes);

    // "yyyy/yyyy-MM-dd <subject> <id>.eml", in the machine's time zone.
    static std::string messagePath(Date date, std::string_view subject, std::string_view id);

    // The vault folder of a mailbox: its display name with the hierarchy
    // delimiter shown as " - ", cleaned; "Folder" when nothing is left.
    static std::string folderDirectory(const IMAPMailbox& mailbox);
    static std::string folderDirectory(std::string_view displayName, const std::optional<std::string>& delimiter);

    // The two shared formatters ("yyyy-MM-dd" and "yyyy", en_US_POSIX, the
    // process's default time zone as it was when first used).
    static std::string formatDay(Date date);
    static std::string formatYear(Date date);
};

}  // namespace bx
