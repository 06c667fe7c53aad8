#include "Imap/ModifiedUTF7.h"

#include "Util/Unicode.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace bx {

namespace {

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict Base64: length a multiple of four, "=" only as final padding.
std::optional<std::vector<std::uint8_t>> base64Decode(const std::string& s) {
    if (s.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < s.size(); i += 4) {
        const bool last = i + 4 == s.size();
        int d[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s[i + std::size_t(k)];
            if (c == '=') {
                if (!last || k < 2) return std::nullopt;
                d[k] = 0;
                ++pad;
            } else {
                if (pad) return std::nullopt;  // data after padding
                d[k] = base64Digit(c);
                if (d[k] < 0) return std::nullopt;
            }
        }
        const std::uint32_t v = (std::uint32_t(d[0]) << 18) | (std::uint32_t(d[1]) << 12) | (std::uint32_t(d[2]) << 6) |
                                std::uint32_t(d[3]);
        out.push_back(std::uint8_t(v >> 16));
        if (pad < 2) out.push_back(std::uint8_t(v >> 8));
        if (pad < 1) out.push_back(std::uint8_t(v));
    }
    return out;
}

// UTF-16 big-endian; absent for an odd length or an unpaired surrogate.
std::optional<std::string> utf16BEDecode(const std::vector<std::uint8_t>& b) {
    if (b.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < b.size(); i += 2) {
        const std::uint32_t u = (std::uint32_t(b[i]) << 8) | b[i + 1];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= b.size()) return std::nullopt;
            const std::uint32_t lo = (std::uint32_t(b[i + 2]) << 8) | b[i + 3];
            if (lo < 0xDC00 || lo > 0xDFFF) return std::nullopt;
            bx::appendUTF8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        } else {
            bx::appendUTF8(out, u);
        }
    }
    return out;
}

}  // namespace

std::string ModifiedUTF7::decode(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    std::size_t i = 0;
    while (i < name.size()) {
        const char c = name[i];
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        const std::size_t dash = name.find('-', i + 1);
        if (dash == std::string_view::npos) {
            out.append(name.substr(i));
            break;
        }
        if (dash == i + 1) {
            out += '&';
        } else {
            std::string b64(name.substr(i + 1, dash - i - 1));
            for (char& ch : b64)
                if (ch == ',') ch = '/';
            while (b64.size() % 4 != 0) b64 += '=';
            std::optional<std::string> text;
            if (auto bytes = base64Decode(b64)) text = utf16BEDecode(*bytes);
            if (text)
                out += *text;
            else
                out.append(name.substr(i, dash - i + 1));
        }
        i = dash + 1;
    }
    return out;
}

}  // namespace bx
