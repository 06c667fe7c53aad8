#pragma once

// Latin-1 bytes as UTF-8 for the IMAP files. Letter case of protocol words,
// decimal numbers and UTF-8 checks are Util/Unicode.h's.

#include <cstddef>
#include <cstdint>
#include <string>

namespace bx::imaptext {

// Each byte taken as a code point U+0000...U+00FF.
std::string latin1ToUTF8(const std::uint8_t* bytes, std::size_t count);

}  // namespace bx::imaptext
