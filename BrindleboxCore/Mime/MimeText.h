#pragma once
// Small text helpers shared by the MIME code (not part of its public interface).
#include <cstddef>
#include <string>
#include <string_view>

namespace bx::mimetext {

inline bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// Trims ' ' and '\t' at both ends.
std::string_view trimSpacesTabs(std::string_view s);
// Trims Unicode white space and line breaks at both ends (Z categories, tab,
// LF, VT, FF, CR, U+0085).
std::string_view trimWhitespaceNewlines(std::string_view s);
// Trims every byte of `set` (ASCII only) at both ends.
std::string_view trimChars(std::string_view s, std::string_view set);

bool isASCII(std::string_view s);
std::string asciiLower(std::string_view s);
std::string asciiUpper(std::string_view s);
// Full Unicode lower-casing (root locale), with an ASCII fast path.
std::string lower(std::string_view s);
bool asciiIEquals(std::string_view a, std::string_view b);
// Unicode case-folded comparison, with an ASCII fast path.
bool caseInsensitiveEquals(std::string_view a, std::string_view b);

inline int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// True when the text is at least two user-perceived characters long and its
// first and last characters are a bare double quote (a quote that a combining
// mark or a prepended sign joins to its neighbour is another character).
bool isQuotedString(std::string_view s);

} // namespace bx::mimetext
