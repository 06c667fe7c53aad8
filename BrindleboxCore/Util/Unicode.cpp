#include "Util/Unicode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace bx {

namespace detail {

namespace {

// Creating a break iterator is costly: each thread keeps a few, one per
// nesting depth, so a callback may measure text while an outer pass runs.
struct IteratorPool {
    std::vector<std::unique_ptr<icu::BreakIterator>> iterators;
    size_t depth = 0;
};

IteratorPool& pool() {
    thread_local IteratorPool p;
    return p;
}

}  // namespace

CharacterBreaks::CharacterBreaks(std::string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &status);
    attach(U_SUCCESS(status) ? ut : nullptr);
}

CharacterBreaks::CharacterBreaks(std::u16string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUChars(nullptr, s.data(), static_cast<int64_t>(s.size()), &status);
    attach(U_SUCCESS(status) ? ut : nullptr);
}

void CharacterBreaks::attach(void* text) {
    auto& p = pool();
    if (p.depth == p.iterators.size()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> bi(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !bi) std::abort();
        p.iterators.push_back(std::move(bi));
    }
    auto* bi = p.iterators[p.depth++].get();
    iterator_ = bi;
    auto* ut = static_cast<UText*>(text);
    if (!ut) return;
    UErrorCode status = U_ZERO_ERROR;
    text_ = ut;
    bi->setText(ut, status);
    if (U_FAILURE(status)) {
        utext_close(ut);
        text_ = nullptr;
    }
}

CharacterBreaks::~CharacterBreaks() {
    auto* bi = static_cast<icu::BreakIterator*>(iterator_);
    if (text_) {
        // Detach so the pooled iterator never refers to text that is gone.
        UErrorCode ignored = U_ZERO_ERROR;
        UText* empty = utext_openUTF8(nullptr, "", 0, &ignored);
        bi->setText(empty, ignored);
        utext_close(static_cast<UText*>(text_));
        utext_close(empty);
    }
    --pool().depth;
}

std::int64_t CharacterBreaks::next() {
    if (!text_) return -1;
    const int32_t p = static_cast<icu::BreakIterator*>(iterator_)->next();
    return p == icu::BreakIterator::DONE ? -1 : p;
}

std::int64_t CharacterBreaks::following(std::int64_t offset) {
    if (!text_) return -1;
    const int32_t p = static_cast<icu::BreakIterator*>(iterator_)->following(static_cast<int32_t>(offset));
    return p == icu::BreakIterator::DONE ? -1 : p;
}

std::int64_t CharacterBreaks::preceding(std::int64_t offset) {
    if (!text_) return -1;
    const int32_t p = static_cast<icu::BreakIterator*>(iterator_)->preceding(static_cast<int32_t>(offset));
    return p == icu::BreakIterator::DONE ? -1 : p;
}

std::int32_t codePointAfter(std::string_view s, size_t& i) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    // Decode within a short window so ICU's 32-bit offsets never overflow.
    const int32_t len = static_cast<int32_t>(std::min<size_t>(s.size() - i, 4));
    int32_t j = 0;
    UChar32 c;
    U8_NEXT(p + i, j, len, c);
    i += static_cast<size_t>(j);
    return c;
}

std::int32_t codePointBefore(std::string_view s, size_t& i, size_t start) {
    const size_t from = std::max(start, i >= 4 ? i - 4 : 0);
    const auto* p = reinterpret_cast<const uint8_t*>(s.data() + from);
    int32_t j = static_cast<int32_t>(i - from);
    UChar32 c;
    U8_PREV(p, 0, j, c);
    i = from + static_cast<size_t>(j);
    return c;
}

}  // namespace detail

namespace {

// Calls f(endOffset) for every character boundary after the start.
template <class F>
void forEachBoundary(std::string_view s, F&& f) {
    if (s.empty()) return;
    detail::CharacterBreaks breaks(s);
    for (std::int64_t p = breaks.next(); p >= 0; p = breaks.next())
        if (!f(static_cast<size_t>(p))) break;
}

// Every ASCII character but a CR before an LF is a character of its own, and
// an ASCII character after it starts a new one. So when the first n + 1 bytes
// (all of them, if fewer) are ASCII without a CR, the first n characters are
// the first n bytes. Most text that is cut or counted is like that.
bool asciiWithoutCR(std::string_view s, size_t n) {
    const size_t stop = std::min(s.size(), n == std::string_view::npos ? n : n + 1);
    for (size_t i = 0; i < stop; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80 || c == '\r') return false;
    }
    return true;
}

}  // namespace

size_t characterCount(std::string_view s) {
    if (asciiWithoutCR(s, std::string_view::npos)) return s.size();
    size_t n = 0;
    forEachBoundary(s, [&](size_t) {
        ++n;
        return true;
    });
    return n;
}

std::string prefixCharacters(std::string_view s, size_t n) {
    if (n == 0) return {};
    if (asciiWithoutCR(s, n)) return std::string(s.substr(0, n));
    size_t count = 0, end = 0;
    forEachBoundary(s, [&](size_t p) {
        end = p;
        return ++count < n;
    });
    return std::string(s.substr(0, end));
}

std::string truncateUTF8Bytes(std::string_view s, size_t maxBytes) {
    if (s.size() <= maxBytes && isValidUTF8(s)) return std::string(s);
    size_t end = 0;
    forEachBoundary(s, [&](size_t p) {
        if (p > maxBytes) return false;
        end = p;
        return true;
    });
    return std::string(s.substr(0, end));
}

bool isValidUTF8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        // ASCII runs eight bytes at a time.
        std::uint64_t word;
        while (i + 8 <= s.size() && (std::memcpy(&word, s.data() + i, 8), (word & 0x8080808080808080ULL) == 0)) i += 8;
        if (i == s.size()) break;
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
        } else if (detail::codePointAfter(s, i) < 0) {
            return false;
        }
    }
    return true;
}

std::string lossyUTF8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        // Runs of ASCII, the bulk of most text, are copied whole.
        const size_t run = i;
        while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
        out.append(s.data() + run, i - run);
        if (i == s.size()) break;
        const size_t start = i;
        // An ill-formed sequence is replaced as a whole (its maximal subpart).
        if (detail::codePointAfter(s, i) < 0)
            appendUTF8(out, 0xFFFD);
        else
            out.append(s.data() + start, i - start);
    }
    return out;
}

bool isWhitespaceChar(char32_t c) {
    return c == U'\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

std::string trimWhitespace(std::string_view s) {
    return std::string(trimCodePoints(s, isWhitespaceChar));
}

bool isSeparatorChar(char32_t c) {
    const int8_t t = u_charType(static_cast<UChar32>(c));
    return t == U_SPACE_SEPARATOR || t == U_LINE_SEPARATOR || t == U_PARAGRAPH_SEPARATOR;
}

bool isWhitespaceOrNewline(char32_t c) {
    if (c == 0x09 || c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85) return true;
    if (c < 0x80) return c == 0x20;
    return isSeparatorChar(c);
}

bool isUnicodeWhiteSpace(char32_t c) {
    return u_isUWhiteSpace(static_cast<UChar32>(c));
}

bool isRegexSpace(char32_t c) {
    if (c < 0x80) return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
    return isSeparatorChar(c);
}

std::string_view trimSpacesTabs(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isSpaceOrTab(s[b])) ++b;
    while (e > b && isSpaceOrTab(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string_view trimWhitespaceNewlines(std::string_view s) {
    return trimCodePoints(s, isWhitespaceOrNewline);
}

bool isASCII(std::string_view s) {
    size_t i = 0;
    for (std::uint64_t word; i + 8 <= s.size(); i += 8) {
        std::memcpy(&word, s.data() + i, 8);
        if (word & 0x8080808080808080ULL) return false;
    }
    for (; i < s.size(); ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
    return true;
}

namespace {

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

icu::UnicodeString toUnicode(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

}  // namespace

std::string asciiLowercased(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = asciiLower(c);
    return out;
}

std::string asciiUppercased(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = asciiUpper(c);
    return out;
}

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

std::string lowercased(std::string_view s) {
    if (isASCII(s)) return asciiLowercased(s);
    icu::UnicodeString u = toUnicode(s);
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (isASCII(a) && isASCII(b)) return asciiEqualsIgnoringCase(a, b);
    return toUnicode(a).caseCompare(toUnicode(b), U_FOLD_CASE_DEFAULT) == 0;
}

void appendUTF8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace bx
