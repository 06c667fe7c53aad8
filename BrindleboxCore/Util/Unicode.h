#pragma once
// Text measures the vault's naming and display rules rely on. A "character" is
// a user-perceived character (extended grapheme cluster); byte limits count
// UTF-8 bytes and never split a character.
#include <cstddef>
#include <cstdint>
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

// Calls f(character) for each user-perceived character, in order, until f
// returns false (a callback returning nothing sees every character). Safe to nest: f may itself use any function of this header.
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
    ~CharacterBreaks();
    CharacterBreaks(const CharacterBreaks&) = delete;
    CharacterBreaks& operator=(const CharacterBreaks&) = delete;
    // Offset of the next boundary, or -1 at the end.
    std::int64_t next();

private:
    void* iterator_ = nullptr;
    void* text_ = nullptr;
};

// Decodes the code point at s[i] forward (or before s[i] backward); -1 when invalid.
std::int32_t codePointAfter(std::string_view s, size_t& i);
std::int32_t codePointBefore(std::string_view s, size_t& i, size_t start);

}  // namespace detail

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
