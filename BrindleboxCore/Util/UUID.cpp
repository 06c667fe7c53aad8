#include "Util/UUID.h"

#include <mutex>
#include <random>

namespace bx {

UUID UUID::random() {
    static std::mutex mutex;
    static std::mt19937_64 engine{[] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }()};
    UUID u;
    {
        std::lock_guard lock(mutex);
        for (size_t i = 0; i < 16; i += 8) {
            const std::uint64_t v = engine();
            for (size_t j = 0; j < 8; ++j) u.bytes[i + j] = static_cast<std::uint8_t>(v >> (8 * j));
        }
    }
    u.bytes[6] = static_cast<std::uint8_t>((u.bytes[6] & 0x0F) | 0x40);
    u.bytes[8] = static_cast<std::uint8_t>((u.bytes[8] & 0x3F) | 0x80);
    return u;
}

std::optional<UUID> UUID::parse(std::string_view s) {
    if (s.size() != 36) return std::nullopt;
    UUID u;
    size_t b = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        const int hi = hex(s[i]), lo = hex(s[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        u.bytes[b++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return u;
}

std::string UUID::string() const {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace bx
