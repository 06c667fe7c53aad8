#pragma once
// Text measures the vault's naming and display rules rely on. A "character" is
// a user-perceived character (extended grapheme cluster); byte limits count
// UTF-8 bytes and never split a character.
#include <cstddef>
#include <string>
#include <string_view>

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

// Appends the UTF-8 encoding of a code point (invalid ones as U+FFFD).
void appendUTF8(std::string& out, char32_t c);

}  // namespace bx
