#include "Mime/HTMLText.h"

#include <algorithm>
#include <cstdint>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "Mime/BoundedRegex.h"
#include "Mime/MimeText.h"
#include "Util/Unicode.h"

namespace bx {

// The tag steps of toPlain are written as scanners rather than regular
// expressions: a regex search for "<style[^>]*>[\s\S]*?</style\s*>" or
// "<[^>]+>" restarts at every "<" and rescans to the end when the closing part
// is missing, which is quadratic on hostile markup. Each scanner matches exactly
// what its expression would, but stops as soon as one attempt fails for lack of
// a closing part, since every later attempt would fail the same way.

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Length of the text at the start of s that matches name (ASCII, lower case)
// case-insensitively under Unicode full case folding, as ICU's case-insensitive
// matching does, or npos. Besides ASCII case, only U+017F (long s) for "s",
// U+FB05/U+FB06 (the "st" ligatures) for "st" and U+212A (Kelvin sign) for "k"
// fold into ASCII letters that these names use.
std::size_t foldedPrefix(std::string_view s, std::string_view name) {
    std::size_t i = 0, k = 0;
    while (k < name.size()) {
        if (i >= s.size()) return npos;
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            char l = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : static_cast<char>(c);
            if (l != name[k]) return npos;
            ++i;
            ++k;
            continue;
        }
        std::string_view rest = s.substr(i);
        if (name[k] == 's' && rest.substr(0, 2) == "\xC5\xBF") {
            i += 2;
            ++k;
        } else if (name[k] == 's' && k + 1 < name.size() && name[k + 1] == 't' &&
                   (rest.substr(0, 3) == "\xEF\xAC\x85" || rest.substr(0, 3) == "\xEF\xAC\x86")) {
            i += 3;
            k += 2;
        } else if (name[k] == 'k' && rest.substr(0, 3) == "\xE2\x84\xAA") {
            i += 3;
            ++k;
        } else {
            return npos;
        }
    }
    return i;
}

// ICU's \s: tab, LF, FF, CR and the Z categories. Returns the byte length of
// such a character at i, or 0.
std::size_t regexSpaceAt(std::string_view s, std::size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return (c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ') ? 1 : 0;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data() + i);
    int32_t len = static_cast<int32_t>(std::min<std::size_t>(4, s.size() - i));
    int32_t k = 0;
    UChar32 cp;
    U8_NEXT(p, k, len, cp);
    if (cp < 0) return 0;
    return isRegexSpace(static_cast<char32_t>(cp)) ? static_cast<std::size_t>(k) : 0;
}

// Step 1: "<" tag "[^>]*>[\s\S]*?</" tag "\s*>" (case-insensitive) -> " ".
std::string removeElements(std::string_view s, std::string_view tag) {
    std::string out;
    std::size_t pos = 0, scan = 0;
    for (;;) {
        std::size_t lt = s.find('<', scan);
        if (lt == std::string_view::npos) break;
        std::size_t openLen = foldedPrefix(s.substr(lt + 1), tag);
        if (openLen == npos) {
            scan = lt + 1;
            continue;
        }
        std::size_t gt = s.find('>', lt + 1 + openLen);
        if (gt == std::string_view::npos) break;
        std::size_t end = std::string_view::npos;
        for (std::size_t q = gt + 1;;) {
            std::size_t c = s.find("</", q);
            if (c == std::string_view::npos) break;
            if (std::size_t closeLen = foldedPrefix(s.substr(c + 2), tag); closeLen != npos) {
                std::size_t k = c + 2 + closeLen;
                while (k < s.size()) {
                    std::size_t w = regexSpaceAt(s, k);
                    if (!w) break;
                    k += w;
                }
                if (k < s.size() && s[k] == '>') {
                    end = k + 1;
                    break;
                }
            }
            q = c + 1;
        }
        if (end == std::string_view::npos) break;
        out.append(s.substr(pos, lt - pos));
        out.push_back(' ');
        pos = scan = end;
    }
    if (pos == 0) return std::string(s);
    out.append(s.substr(pos));
    return out;
}

// Step 2: "<!--[\s\S]*?-->" -> " ".
std::string removeComments(std::string_view s) {
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        std::size_t open = s.find("<!--", pos);
        if (open == std::string_view::npos) break;
        std::size_t close = s.find("-->", open + 4);
        if (close == std::string_view::npos) break;
        out.append(s.substr(pos, open - pos));
        out.push_back(' ');
        pos = close + 3;
    }
    if (pos == 0) return std::string(s);
    out.append(s.substr(pos));
    return out;
}

bool isBreakTagName(std::string_view rest) {
    static constexpr std::string_view names[] = {"br", "/p", "/div", "/tr", "/li"};
    for (auto n : names)
        if (foldedPrefix(rest, n) != npos) return true;
    return foldedPrefix(rest, "/h") == 2 && rest.size() > 2 && rest[2] >= '1' && rest[2] <= '6';
}

// Step 3: "<(br|/p|/div|/tr|/li|/h[1-6])[^>]*>" (case-insensitive) -> "\n".
// Step 4: "<[^>]+>" -> " ".
std::string replaceTags(std::string_view s, bool breaksOnly) {
    std::string out;
    std::size_t pos = 0, scan = 0, gt = 0;
    bool haveGt = false;
    for (;;) {
        std::size_t lt = s.find('<', scan);
        if (lt == std::string_view::npos) break;
        // The first ">" after this "<"; reused while the "<"s stay before it,
        // so that "<<<<...>" is one scan.
        if (!haveGt || gt <= lt) {
            gt = s.find('>', lt + 1);
            haveGt = true;
        }
        if (gt == std::string_view::npos) break;  // no later "<" can close either
        bool match = breaksOnly ? isBreakTagName(s.substr(lt + 1, gt - lt - 1)) : gt > lt + 1;
        if (!match) {
            scan = lt + 1;
            continue;
        }
        out.append(s.substr(pos, lt - pos));
        out.push_back(breaksOnly ? '\n' : ' ');
        pos = scan = gt + 1;
    }
    if (pos == 0) return std::string(s);
    out.append(s.substr(pos));
    return out;
}

struct NamedRef {
    std::string_view name;
    std::string_view text;
};
constexpr NamedRef kNamedRefs[] = {
    {"&nbsp;", " "},       {"&amp;", "&"},        {"&lt;", "<"},         {"&gt;", ">"},         {"&quot;", "\""},
    {"&#39;", "'"},        {"&apos;", "'"},       {"&mdash;", "\u2014"}, {"&ndash;", "\u2013"}, {"&hellip;", "\u2026"},
    {"&rsquo;", "\u2019"}, {"&lsquo;", "\u2018"}, {"&rdquo;", "\u201D"}, {"&ldquo;", "\u201C"}, {"&copy;", "\u00A9"},
    {"&reg;", "\u00AE"},   {"&trade;", "\u2122"}, {"&zwnj;", ""},        {"&zwj;", ""},         {"&euro;", "\u20AC"},
    {"&bull;", "\u2022"},
};

const BoundedRegex& numericRefRegex() {
    static const BoundedRegex r("&#(x?)([0-9a-fA-F]+);");
    return r;
}
const BoundedRegex& blankRunRegex() {
    static const BoundedRegex r("[ \\t\\u00a0]+");
    return r;
}
const BoundedRegex& blankLinesRegex() {
    static const BoundedRegex r("\\n\\s*\\n\\s*\\n+");
    return r;
}

}  // namespace

std::string HTMLText::decodeEntities(std::string_view text) {
    if (text.find('&') == std::string_view::npos) return std::string(text);
    // Named references in one left-to-right pass, so text that a replacement
    // produces is not decoded again.
    std::string named;
    named.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        std::size_t amp = text.find('&', pos);
        if (amp == std::string_view::npos) break;
        named.append(text.substr(pos, amp - pos));
        std::string_view rest = text.substr(amp);
        const NamedRef* hit = nullptr;
        std::size_t len = npos;
        for (const auto& r : kNamedRefs)
            if ((len = foldedPrefix(rest, r.name)) != npos) {
                hit = &r;
                break;
            }
        if (hit) {
            named.append(hit->text);
            pos = amp + len;
        } else {
            named.push_back('&');
            pos = amp + 1;
        }
    }
    named.append(text.substr(pos));
    if (named.find("&#") == std::string::npos) return named;

    icu::UnicodeString u = numericRefRegex().replaceAll(BudgetedRegex::toUnicode(named), [](icu::RegexMatcher& m) {
        UErrorCode err = U_ZERO_ERROR;
        bool hex = m.group(1, err).length() > 0;
        icu::UnicodeString digits = m.group(2, err);
        uint64_t v = 0;
        for (int32_t i = 0; i < digits.length(); ++i) {
            char16_t c = digits.charAt(i);
            int d = mimetext::hexValue(static_cast<unsigned char>(c));
            if (!hex && d > 9) return icu::UnicodeString();
            v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFULL) return icu::UnicodeString();
        }
        if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return icu::UnicodeString();
        return icu::UnicodeString(static_cast<UChar32>(v));
    });
    return BudgetedRegex::toUTF8(u);
}

std::string HTMLText::toPlain(std::string_view html) {
    std::string s(html);
    for (std::string_view tag : {"style", "script", "head", "title"}) s = removeElements(s, tag);
    s = removeComments(s);
    s = replaceTags(s, true);
    s = replaceTags(s, false);
    s = decodeEntities(s);
    icu::UnicodeString u = BudgetedRegex::toUnicode(s);
    u = blankRunRegex().replaceAll(u, icu::UnicodeString(u" "));
    u = blankLinesRegex().replaceAll(u, icu::UnicodeString(u"\n\n"));
    return std::string(trimWhitespaceNewlines(BudgetedRegex::toUTF8(u)));
}

std::string HTMLText::escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

}  // namespace bx
