#pragma once

// Small text helpers shared by the IMAP files: Latin-1 bytes as UTF-8, and
// letter-case mapping for keyword comparison. UTF-8 checks and lossy decoding
// are Util/Unicode.h's isValidUTF8 and lossyUTF8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bx::imaptext {

// Each byte taken as a code point U+0000...U+00FF.
std::string latin1ToUTF8(const std::uint8_t* bytes, std::size_t count);
// Full Unicode case mapping (root locale); plain ASCII takes a fast path.
std::string uppercased(std::string_view text);
std::string lowercased(std::string_view text);

}  // namespace bx::imaptext
