#pragma once
// Small text helpers shared by the MIME code (not part of its public interface).
#include <cstddef>
#include <string>
#include <string_view>

// Letter case, whitespace classes and trimming are Util/Unicode.h's.
namespace bx::mimetext {

// Trims every byte of `set` (ASCII only) at both ends.
std::string_view trimChars(std::string_view s, std::string_view set);

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

}  // namespace bx::mimetext
