#pragma once

// Small text helpers shared by the IMAP files: UTF-8 decoding as servers need
// it, and letter-case mapping for keyword comparison.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bx::imaptext {

// UTF-8 with every ill-formed sequence (maximal subpart) replaced by U+FFFD.
std::string decodeUTF8Lossy(const std::uint8_t* bytes, std::size_t count);
bool isValidUTF8(const std::uint8_t* bytes, std::size_t count);
// Each byte taken as a code point U+0000...U+00FF.
std::string latin1ToUTF8(const std::uint8_t* bytes, std::size_t count);
// Full Unicode case mapping (root locale); plain ASCII takes a fast path.
std::string uppercased(std::string_view text);
std::string lowercased(std::string_view text);

}  // namespace bx::imaptext
