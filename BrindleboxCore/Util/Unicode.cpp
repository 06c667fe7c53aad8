#include "Util/Unicode.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace bx {

namespace {

// Creating a break iterator is costly; each thread keeps one.
icu::BreakIterator& characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> bi(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !bi) std::abort();
        return bi;
    }();
    return *it;
}

// Calls f(endOffset) for every character boundary after the start, in order,
// until f returns false.
template <class F>
void forEachBoundary(std::string_view s, F&& f) {
    if (s.empty()) return;
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &status);
    if (U_FAILURE(status)) return;
    auto& bi = characterBreaks();
    bi.setText(ut, status);
    if (U_SUCCESS(status)) {
        for (int32_t p = bi.next(); p != icu::BreakIterator::DONE; p = bi.next()) {
            if (!f(static_cast<size_t>(p))) break;
        }
    }
    // Detach before closing so the cached iterator never points at freed text.
    UErrorCode ignored = U_ZERO_ERROR;
    UText* empty = utext_openUTF8(nullptr, "", 0, &ignored);
    bi.setText(empty, ignored);
    utext_close(ut);
    utext_close(empty);
}

}  // namespace

size_t characterCount(std::string_view s) {
    size_t n = 0;
    forEachBoundary(s, [&](size_t) {
        ++n;
        return true;
    });
    return n;
}

std::string prefixCharacters(std::string_view s, size_t n) {
    if (n == 0) return {};
    size_t count = 0, end = 0;
    forEachBoundary(s, [&](size_t p) {
        end = p;
        return ++count < n;
    });
    return std::string(s.substr(0, end));
}

std::string truncateUTF8Bytes(std::string_view s, size_t maxBytes) {
    if (s.size() <= maxBytes && isValidUTF8(s)) return std::string(s);
    size_t end = 0;
    forEachBoundary(s, [&](size_t p) {
        if (p > maxBytes) return false;
        end = p;
        return true;
    });
    return std::string(s.substr(0, end));
}

bool isValidUTF8(std::string_view s) {
    int32_t i = 0;
    const int32_t n = static_cast<int32_t>(s.size());
    if (static_cast<size_t>(n) != s.size()) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    while (i < n) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

std::string lossyUTF8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    size_t i = 0;
    while (i < s.size()) {
        // Work in windows so the 32-bit offsets of the ICU macros never overflow.
        const int32_t n = static_cast<int32_t>(std::min<size_t>(s.size() - i, 1u << 30));
        int32_t j = 0;
        while (j < n) {
            const int32_t start = j;
            UChar32 c;
            U8_NEXT(p + i, j, n, c);
            if (c < 0) {
                appendUTF8(out, 0xFFFD);
            } else {
                out.append(reinterpret_cast<const char*>(p + i + start), static_cast<size_t>(j - start));
            }
        }
        i += static_cast<size_t>(n);
    }
    return out;
}

bool isWhitespaceChar(char32_t c) {
    return c == U'\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

std::string trimWhitespace(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const int32_t n = static_cast<int32_t>(s.size());
    int32_t start = 0;
    while (start < n) {
        int32_t j = start;
        UChar32 c;
        U8_NEXT(p, j, n, c);
        if (c < 0 || !isWhitespaceChar(static_cast<char32_t>(c))) break;
        start = j;
    }
    int32_t end = n;
    while (end > start) {
        int32_t j = end;
        UChar32 c;
        U8_PREV(p, start, j, c);
        if (c < 0 || !isWhitespaceChar(static_cast<char32_t>(c))) break;
        end = j;
    }
    return std::string(s.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

void appendUTF8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace bx
