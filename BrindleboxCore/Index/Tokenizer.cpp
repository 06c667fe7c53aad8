// SearchIndex::tokenize: words folded for case and diacritics.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "Index/SearchIndex.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

constexpr int32_t maxTokenCharacters = 40;

bool isASCIIAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isWordCodePoint(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

const icu::Normalizer2& nfd() {
    static const icu::Normalizer2* n = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* x = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status) || !x) std::abort();
        return x;
    }();
    return *n;
}

const icu::Normalizer2& nfc() {
    static const icu::Normalizer2* n = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* x = icu::Normalizer2::getNFCInstance(status);
        if (U_FAILURE(status) || !x) std::abort();
        return x;
    }();
    return *n;
}

template <class Emit>
void emitASCII(std::string_view word, Emit& emit) {
    if (word.size() < 2) return;
    emit(asciiLowercased(word.substr(0, maxTokenCharacters)));
}

// The general path for a stretch of text with characters beyond ASCII:
// fold case, decompose, drop the non-spacing marks, then walk characters.
// `context` is the separator before the stretch (or empty): a mark that
// follows it belongs to its character, not to the next word.
template <class Emit>
void tokenizeUnicode(std::string_view context, std::string_view stretch, Emit& emit) {
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(context.data(), static_cast<int32_t>(context.size())));
    u.append(icu::UnicodeString::fromUTF8(icu::StringPiece(stretch.data(), static_cast<int32_t>(stretch.size()))));
    u.foldCase(U_FOLD_CASE_DEFAULT);
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString decomposed = nfd().normalize(u, status);
    if (U_FAILURE(status)) return;
    icu::UnicodeString folded;
    for (int32_t i = 0; i < decomposed.length();) {
        const UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) folded.append(c);
        i += U16_LENGTH(c);
    }

    detail::CharacterBreaks breaks(std::u16string_view(folded.getBuffer(), static_cast<size_t>(folded.length())));
    int32_t wordStart = -1, wordEnd = -1, characters = 0;
    auto flush = [&] {
        if (characters >= 2) {
            UErrorCode st = U_ZERO_ERROR;
            const icu::UnicodeString token =
                nfc().normalize(icu::UnicodeString(folded, wordStart, wordEnd - wordStart), st);
            std::string out;
            token.toUTF8String(out);
            emit(std::move(out));
        }
        characters = 0;
        wordStart = -1;
    };
    int32_t start = 0;
    for (std::int64_t next = breaks.next(); next >= 0; start = static_cast<int32_t>(next), next = breaks.next()) {
        const int32_t end = static_cast<int32_t>(next);
        if (isWordCodePoint(folded.char32At(start))) {
            if (characters == 0) wordStart = start;
            if (characters < maxTokenCharacters) wordEnd = end;
            ++characters;
        } else {
            flush();
        }
    }
    flush();
}

}  // namespace

template <class Emit>
static void forEachToken(std::string_view text, Emit&& emit) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80 && !isASCIIAlnum(c)) {
            ++i;
            continue;
        }
        // A stretch runs to the next ASCII character that is neither letter
        // nor digit: every such character starts a new user-perceived
        // character, so stretches can be handled one by one.
        size_t j = i;
        bool ascii = true;
        while (j < n) {
            const auto d = static_cast<unsigned char>(text[j]);
            if (d < 0x80) {
                if (!isASCIIAlnum(d)) break;
            } else {
                ascii = false;
            }
            ++j;
        }
        if (ascii)
            emitASCII(text.substr(i, j - i), emit);
        else
            tokenizeUnicode(i > 0 ? text.substr(i - 1, 1) : std::string_view(), text.substr(i, j - i), emit);
        i = j;
    }
}

std::vector<std::string> SearchIndex::tokenize(std::string_view text) {
    std::vector<std::string> tokens;
    forEachToken(text, [&](std::string&& t) { tokens.push_back(std::move(t)); });
    return tokens;
}

}  // namespace bx
