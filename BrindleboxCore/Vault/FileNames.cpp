#include "Vault/FileNames.h"

#include <cstdlib>

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/utf8.h>

#include "Imap/IMAPMailbox.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

bool isLineBreak(UChar32 c) {
    return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isForbiddenInName(std::string_view ch) {
    if (ch.size() != 1) return false;
    switch (ch[0]) {
        case '/':
        case '\\':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|': return true;
        default: return false;
    }
}

// Whether the character must become a space.
bool becomesSpace(std::string_view ch) {
    const auto* p = reinterpret_cast<const uint8_t*>(ch.data());
    const int32_t n = static_cast<int32_t>(ch.size());
    int32_t i = 0;
    UChar32 first;
    U8_NEXT(p, i, n, first);
    if (isLineBreak(first) || first == 0x09) return true;
    if (isForbiddenInName(ch)) return true;
    UChar32 c = first;
    for (;;) {
        if (c >= 0 && (c < 0x20 || c == 0x7F)) return true;
        if (i >= n) break;
        U8_NEXT(p, i, n, c);
    }
    return false;
}

const icu::SimpleDateFormat& formatter(const char* pattern) {
    UErrorCode status = U_ZERO_ERROR;
    auto* f = new icu::SimpleDateFormat(icu::UnicodeString(pattern), icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status)) std::abort();
    return *f;
}

const icu::SimpleDateFormat& dayFormatter() {
    static const icu::SimpleDateFormat& f = formatter("yyyy-MM-dd");
    return f;
}

const icu::SimpleDateFormat& yearFormatter() {
    static const icu::SimpleDateFormat& f = formatter("yyyy");
    return f;
}

std::string format(const icu::SimpleDateFormat& f, Date date) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString out;
    // Formatting is a const operation that works on a copy of the calendar,
    // so the shared formatter may be used from several threads.
    f.format(static_cast<UDate>(ms), out);
    std::string s;
    out.toUTF8String(s);
    return s;
}

}  // namespace

std::string FileNames::sanitize(std::string_view input, int max, int maxBytes) {
    std::string valid;
    if (!isValidUTF8(input)) {
        valid = lossyUTF8(input);
        input = valid;
    }
    // Steps 1 and 2 in one pass: replaced characters and spaces go through one
    // "last was a space" flag so runs of U+0020 collapse as they are made.
    std::string out;
    out.reserve(input.size());
    bool lastSpace = false;
    forEachCharacter(input, [&](std::string_view ch) {
        if (becomesSpace(ch) || ch == " ") {
            if (!lastSpace) out += ' ';
            lastSpace = true;
            return;
        }
        // A space carrying combining marks is one character that is not a
        // plain space, but its first scalar is still a U+0020 of the run.
        if (lastSpace && ch[0] == ' ') ch.remove_prefix(1);
        out.append(ch);
        lastSpace = false;
    });
    std::string text = trimWhitespace(out);
    // A trim can bring a dot to the front again (". .." would become ".."):
    // the leading-dot rule and the cuts repeat until the name starts with
    // something else, so no name is ever ".", ".." or hidden.
    do {
        while (!text.empty() && text[0] == '.') text.erase(0, prefixCharacters(text, 1).size());
        text = trimWhitespace(text);
        if (max >= 0 && characterCount(text) > static_cast<size_t>(max))
            text = trimWhitespace(prefixCharacters(text, static_cast<size_t>(max)));
        text = trimWhitespace(truncateUTF8(text, maxBytes));
    } while (!text.empty() && text[0] == '.');
    return text;
}

std::string FileNames::truncateUTF8(std::string_view text, int bytes) {
    return truncateUTF8Bytes(text, bytes < 0 ? 0 : static_cast<size_t>(bytes));
}

std::string FileNames::formatDay(Date date) {
    return format(dayFormatter(), date);
}

std::string FileNames::formatYear(Date date) {
    return format(yearFormatter(), date);
}

std::string FileNames::messagePath(Date date, std::string_view subject, std::string_view id) {
    std::string part = sanitize(subject, 80, 150);
    if (part.empty()) part = "(no subject)";
    std::string out = formatYear(date);
    out += '/';
    out += formatDay(date);
    out += ' ';
    out += part;
    out += ' ';
    out += id;
    out += ".eml";
    return out;
}

std::string FileNames::folderDirectory(std::string_view displayName, const std::optional<std::string>& delimiter) {
    std::string name(displayName);
    if (delimiter && !delimiter->empty()) {
        std::string replaced;
        size_t pos = 0;
        for (;;) {
            const size_t hit = name.find(*delimiter, pos);
            if (hit == std::string::npos) break;
            replaced.append(name, pos, hit - pos);
            replaced += " - ";
            pos = hit + delimiter->size();
        }
        replaced.append(name, pos, std::string::npos);
        name = std::move(replaced);
    }
    std::string cleaned = sanitize(name, 80, 150);
    return cleaned.empty() ? std::string("Folder") : cleaned;
}

std::string FileNames::folderDirectory(const IMAPMailbox& mailbox) {
    return folderDirectory(mailbox.displayName, mailbox.delimiter);
}

}  // namespace bx
