#include "Imap/IMAPText.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace bx::imaptext {

namespace {

// Length of the well-formed sequence at bytes[i], or the length of its
// maximal ill-formed subpart negated (at least 1).
long sequenceAt(const std::uint8_t* p, std::size_t n, std::size_t i) {
    const std::uint8_t b = p[i];
    if (b < 0x80) return 1;
    int need = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b == 0xE0) {
        need = 2;
        lo = 0xA0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
        need = 2;
    } else if (b == 0xED) {
        need = 2;
        hi = 0x9F;
    } else if (b == 0xF0) {
        need = 3;
        lo = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
        need = 3;
    } else if (b == 0xF4) {
        need = 3;
        hi = 0x8F;
    } else {
        return -1;
    }
    std::size_t j = i + 1;
    for (int k = 0; k < need; ++k, ++j) {
        if (j >= n) return -long(j - i);
        const std::uint8_t c = p[j];
        const std::uint8_t l = k == 0 ? lo : 0x80;
        const std::uint8_t h = k == 0 ? hi : 0xBF;
        if (c < l || c > h) return -long(j - i);
    }
    return long(need + 1);
}

bool isASCII(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

std::string decodeUTF8Lossy(const std::uint8_t* bytes, std::size_t count) {
    std::size_t ascii = 0;
    while (ascii < count && bytes[ascii] < 0x80) ++ascii;
    if (ascii == count) return std::string(reinterpret_cast<const char*>(bytes), count);
    std::string out;
    out.reserve(count);
    std::size_t i = 0;
    while (i < count) {
        const long len = sequenceAt(bytes, count, i);
        if (len > 0) {
            out.append(reinterpret_cast<const char*>(bytes + i), std::size_t(len));
            i += std::size_t(len);
        } else {
            out += "\xEF\xBF\xBD";
            i += std::size_t(-len);
        }
    }
    return out;
}

bool isValidUTF8(const std::uint8_t* bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const long len = sequenceAt(bytes, count, i);
        if (len < 0) return false;
        i += std::size_t(len);
    }
    return true;
}

std::string latin1ToUTF8(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            out += char(b);
        } else {
            out += char(0xC0 | (b >> 6));
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string uppercased(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        return out;
    }
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    u.toUpper(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::string lowercased(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return out;
    }
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

}  // namespace bx::imaptext
