#pragma once
// Text measures the vault's naming and display rules rely on. A "character" is
// a user-perceived character (extended grapheme cluster); byte limits count
// UTF-8 bytes and never split a character.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace bx {

// Number of user-perceived characters.
size_t characterCount(std::string_view utf8);

// The first n characters.
std::string prefixCharacters(std::string_view utf8, size_t n);

// The longest run of whole characters from the start that fits in maxBytes.
std::string truncateUTF8Bytes(std::string_view utf8, size_t maxBytes);

bool isValidUTF8(std::string_view bytes);

// Invalid sequences become U+FFFD.
std::string lossyUTF8(std::string_view bytes);

// Whitespace as the rules use the word: Unicode space separators (Zs) and tab,
// not line breaks.
bool isWhitespaceChar(char32_t c);
std::string trimWhitespace(std::string_view utf8);

// The other whitespace classes the parsers name:
// ' ' and '\t' only, as header syntax uses them;
inline bool isSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}
// the Unicode separators (Zs, Zl, Zp), without tab or control line breaks;
bool isSeparatorChar(char32_t c);
// separators plus tab and the line breaks LF, VT, FF, CR and U+0085;
bool isWhitespaceOrNewline(char32_t c);
// ICU's White_Space property (every separator and control-character space).
bool isUnicodeWhiteSpace(char32_t c);
// What a regular expression's \s matches: tab, LF, FF, CR and the separators.
bool isRegexSpace(char32_t c);

// Trims ' ' and '\t' at both ends.
std::string_view trimSpacesTabs(std::string_view s);
// Trims isWhitespaceOrNewline code points at both ends.
std::string_view trimWhitespaceNewlines(std::string_view utf8);

bool isASCII(std::string_view bytes);

// Letter case of protocol tokens (IMAP atoms, header and charset names):
// only A-Z and a-z change; every other byte, non-ASCII letters included,
// is left alone, so no token can fold into another one of a different
// spelling.
std::string asciiLowercased(std::string_view s);
std::string asciiUppercased(std::string_view s);
bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b);

// Full Unicode lower-casing (root locale), for text meant for people
// (addresses, domains, header values); plain ASCII takes the fast path.
std::string lowercased(std::string_view utf8);
// Unicode case-folded comparison, with an ASCII fast path.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// A decimal number of type T: digits only, nothing before or after them,
// within T's range. Identifiers such as UIDs are read this way: a sign is
// never part of one.
template <typename T>
std::optional<T> parseDecimal(std::string_view s);

// A decimal integer of type T with an optional leading "+" or "-", for
// counts and sizes that protocols write as signed numbers.
template <typename T>
std::optional<T> parseSignedDecimal(std::string_view s);

// Calls f(character) for each user-perceived character, in order, until f
// returns false (a callback returning nothing sees every character). Safe to nest: f may itself use any function of
// this header.
template <class F>
void forEachCharacter(std::string_view utf8, F&& f);

// `text` without leading and trailing code points for which pred(c) is true.
// Stops at the first invalid UTF-8 sequence from either end.
template <class Pred>
std::string_view trimCodePoints(std::string_view text, Pred&& pred);

// Appends the UTF-8 encoding of a code point (invalid ones as U+FFFD).
void appendUTF8(std::string& out, char32_t c);

namespace detail {

// One character-break pass over a text; see forEachCharacter.
class CharacterBreaks {
public:
    explicit CharacterBreaks(std::string_view text);
    // The same over UTF-16 text, for callers that hold ICU strings; offsets
    // are then in UTF-16 units.
    explicit CharacterBreaks(std::u16string_view text);
    ~CharacterBreaks();
    CharacterBreaks(const CharacterBreaks&) = delete;
    CharacterBreaks& operator=(const CharacterBreaks&) = delete;
    // Offset of the next boundary, or -1 at the end.
    std::int64_t next();
    // The first boundary after `offset` / the last one before it, or -1.
    std::int64_t following(std::int64_t offset);
    std::int64_t preceding(std::int64_t offset);

private:
    void attach(void* text);
    void* iterator_ = nullptr;
    void* text_ = nullptr;
};

// Decodes the code point at s[i] forward (or before s[i] backward); -1 when invalid.
std::int32_t codePointAfter(std::string_view s, size_t& i);
std::int32_t codePointBefore(std::string_view s, size_t& i, size_t start);

// Reads digits into a magnitude no greater than limit; nullopt when there are
// none, another byte shows up, or the value goes past the limit.
inline std::optional<unsigned long long> parseDigits(std::string_view s, unsigned long long limit) {
    if (s.empty()) return std::nullopt;
    unsigned long long mag = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const unsigned d = unsigned(c - '0');
        if (mag > (limit - d) / 10) return std::nullopt;
        mag = mag * 10 + d;
    }
    return mag;
}

}  // namespace detail

template <typename T>
std::optional<T> parseDecimal(std::string_view s) {
    static_assert(std::numeric_limits<T>::is_integer);
    const auto mag = detail::parseDigits(s, static_cast<unsigned long long>(std::numeric_limits<T>::max()));
    if (!mag) return std::nullopt;
    return static_cast<T>(*mag);
}

template <typename T>
std::optional<T> parseSignedDecimal(std::string_view s) {
    static_assert(std::numeric_limits<T>::is_integer);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    // Accumulated as a magnitude, so the most negative value still fits.
    unsigned long long limit = static_cast<unsigned long long>(std::numeric_limits<T>::max());
    if constexpr (std::numeric_limits<T>::is_signed) {
        if (negative) limit = static_cast<unsigned long long>(-(std::numeric_limits<T>::min() + 1)) + 1;
    }
    const auto mag = detail::parseDigits(s, limit);
    if (!mag) return std::nullopt;
    if (!negative || *mag == 0) return static_cast<T>(*mag);
    if constexpr (std::numeric_limits<T>::is_signed) {
        return static_cast<T>(-static_cast<long long>(*mag - 1) - 1);
    } else {
        return std::nullopt;
    }
}

template <class F>
void forEachCharacter(std::string_view s, F&& f) {
    if (s.empty()) return;
    detail::CharacterBreaks breaks(s);
    size_t start = 0;
    for (std::int64_t p = breaks.next(); p >= 0; p = breaks.next()) {
        const size_t end = static_cast<size_t>(p);
        if constexpr (std::is_void_v<std::invoke_result_t<F&, std::string_view>>) {
            f(s.substr(start, end - start));
        } else {
            if (!f(s.substr(start, end - start))) return;
        }
        start = end;
    }
}

template <class Pred>
std::string_view trimCodePoints(std::string_view s, Pred&& pred) {
    size_t begin = 0;
    while (begin < s.size()) {
        size_t i = begin;
        const std::int32_t c = detail::codePointAfter(s, i);
        if (c < 0 || !pred(static_cast<char32_t>(c))) break;
        begin = i;
    }
    size_t end = s.size();
    while (end > begin) {
        size_t i = end;
        const std::int32_t c = detail::codePointBefore(s, i, begin);
        if (c < 0 || !pred(static_cast<char32_t>(c))) break;
        end = i;
    }
    return s.substr(begin, end - begin);
}

}  // namespace bx
