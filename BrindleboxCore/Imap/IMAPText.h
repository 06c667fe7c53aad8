#pragma once

// Small text helpers shared by the IMAP files: Latin-1 bytes as UTF-8,
// letter-case mapping for keyword comparison, and decimal numbers. UTF-8
// checks and lossy decoding are Util/Unicode.h's isValidUTF8 and lossyUTF8.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace bx::imaptext {

// Each byte taken as a code point U+0000...U+00FF.
std::string latin1ToUTF8(const std::uint8_t* bytes, std::size_t count);
// Full Unicode case mapping (root locale); plain ASCII takes a fast path.
std::string uppercased(std::string_view text);
std::string lowercased(std::string_view text);

// A decimal integer of type T: an optional "+" or "-", then digits only,
// within T's range.
template <typename T>
std::optional<T> parseDecimal(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    // Accumulated as a magnitude, so the most negative value still fits.
    unsigned long long mag = 0;
    const unsigned long long limit = negative ? static_cast<unsigned long long>(-(std::numeric_limits<T>::min() + 1)) + 1
                                              : static_cast<unsigned long long>(std::numeric_limits<T>::max());
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const unsigned d = unsigned(c - '0');
        if (mag > (limit - d) / 10) return std::nullopt;
        mag = mag * 10 + d;
    }
    if (!negative) return static_cast<T>(mag);
    if (mag == 0) return T(0);
    if constexpr (std::numeric_limits<T>::is_signed) {
        return static_cast<T>(-static_cast<long long>(mag - 1) - 1);
    } else {
        return std::nullopt;
    }
}

}  // namespace bx::imaptext
