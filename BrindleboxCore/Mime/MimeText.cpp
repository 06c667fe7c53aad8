#include "Mime/MimeText.h"

#include "Util/Unicode.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/unistr.h>
#include <unicode/locid.h>

namespace bx::mimetext {

std::string_view trimSpacesTabs(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isSpaceOrTab(s[b])) ++b;
    while (e > b && isSpaceOrTab(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string_view trimChars(std::string_view s, std::string_view set) {
    std::size_t b = 0, e = s.size();
    while (b < e && set.find(s[b]) != std::string_view::npos) ++b;
    while (e > b && set.find(s[e - 1]) != std::string_view::npos) --e;
    return s.substr(b, e - b);
}

static bool isWSNL(char32_t c) {
    if (c == 0x09 || c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85) return true;
    if (c < 0x80) return c == 0x20;
    int8_t t = u_charType(static_cast<UChar32>(c));
    return t == U_SPACE_SEPARATOR || t == U_LINE_SEPARATOR || t == U_PARAGRAPH_SEPARATOR;
}

std::string_view trimWhitespaceNewlines(std::string_view s) { return trimCodePoints(s, isWSNL); }

bool isASCII(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string asciiLower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

std::string asciiUpper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return r;
}

std::string lower(std::string_view s) {
    if (isASCII(s)) return asciiLower(s);
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

static char lowerASCII(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool asciiIEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerASCII(a[i]) != lowerASCII(b[i])) return false;
    return true;
}

bool caseInsensitiveEquals(std::string_view a, std::string_view b) {
    if (isASCII(a) && isASCII(b)) return asciiIEquals(a, b);
    icu::UnicodeString ua = icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())));
    icu::UnicodeString ub = icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size())));
    return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

bool isQuotedString(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
    // ASCII neighbours can neither extend the first quote nor be prepended to
    // the last one.
    if (static_cast<unsigned char>(s[1]) < 0x80 && static_cast<unsigned char>(s[s.size() - 2]) < 0x80) return true;
    if (s.size() > static_cast<std::size_t>(INT32_MAX)) return true;
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode err = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> b(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), err));
        return U_SUCCESS(err) ? std::move(b) : nullptr;
    }();
    if (!it) return true;
    UErrorCode err = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUTF8(&ut, s.data(), static_cast<int64_t>(s.size()), &err);
    if (U_FAILURE(err)) return true;
    it->setText(&ut, err);
    bool ok = U_SUCCESS(err);
    if (ok) {
        int32_t firstEnd = it->following(0);
        int32_t lastStart = it->preceding(static_cast<int32_t>(s.size()));
        ok = firstEnd == 1 && lastStart == static_cast<int32_t>(s.size()) - 1 && lastStart >= firstEnd;
    }
    it->setText(icu::UnicodeString());  // drop the reference to s
    utext_close(&ut);
    return ok;
}

} // namespace bx::mimetext
