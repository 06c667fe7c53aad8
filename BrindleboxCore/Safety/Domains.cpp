#include "Safety/Domains.h"

#include <array>
#include <vector>

#include <unicode/bytestream.h>
#include <unicode/idna.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uspoof.h>
#include <unicode/utf8.h>

#include "Util/BudgetedRegex.h"
#include "Util/Unicode.h"

namespace bx {

using R = BudgetedRegex;

namespace {

// Second-level labels under which registrations happen one level deeper.
constexpr std::array<std::string_view, 18> twoLevelSuffixes = {
    "co.uk", "org.uk", "ac.uk", "gov.uk", "com.au", "net.au", "org.au", "co.nz",  "co.jp",
    "co.in", "co.kr",  "co.za", "com.br", "com.cn", "com.mx", "com.sg", "com.tr", "com.hk",
};

// Trims Unicode white space (line breaks included) from both ends.
std::string_view trimWhiteSpaceAndNewlines(std::string_view s) {
    return trimCodePoints(s, isUnicodeWhiteSpace);
}

bool isSchemeStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isSchemeChar(char c) {
    return isSchemeStart(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Characters that can never stand in a host name.
bool badHostChar(UChar32 c) {
    if (c < 0x21 || c == 0x7F) return true;
    switch (c) {
        case '<':
        case '>':
        case '"':
        case '{':
        case '}':
        case '|':
        case '^':
        case '`':
        case '\\':
        case '/':
        case '?':
        case '#':
        case '@':
        case '[':
        case ']': return true;
        default: return isUnicodeWhiteSpace(static_cast<char32_t>(c)) || u_iscntrl(c);
    }
}

}  // namespace

std::string Domains::lower(std::string_view s) {
    return lowercased(s);
}

namespace {

const icu::IDNA& uts46() {
    static const icu::IDNA* idna = [] {
        UErrorCode st = U_ZERO_ERROR;
        return icu::IDNA::createUTS46Instance(UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE, st);
    }();
    return *idna;
}

// The host through one direction of UTS #46, or nothing when it is not a
// valid international host name.
template <typename Convert>
std::optional<std::string> idnaConvert(std::string_view host, Convert convert) {
    if (host.empty()) return std::nullopt;
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    icu::IDNAInfo info;
    UErrorCode st = U_ZERO_ERROR;
    convert(uts46(), icu::StringPiece(host.data(), static_cast<int32_t>(host.size())), sink, info, st);
    if (U_FAILURE(st) || info.hasErrors()) return std::nullopt;
    return out;
}

}  // namespace

std::string Domains::ace(std::string_view host) {
    auto out =
        idnaConvert(host, [](const icu::IDNA& idna, icu::StringPiece in, icu::ByteSink& sink, icu::IDNAInfo& info,
                             UErrorCode& st) { idna.nameToASCII_UTF8(in, sink, info, st); });
    return out ? lower(*out) : lower(host);
}

std::string Domains::unicode(std::string_view host) {
    auto out =
        idnaConvert(host, [](const icu::IDNA& idna, icu::StringPiece in, icu::ByteSink& sink, icu::IDNAInfo& info,
                             UErrorCode& st) { idna.nameToUnicodeUTF8(in, sink, info, st); });
    return out ? lower(*out) : lower(host);
}

bool Domains::isLookalike(std::string_view host) {
    const std::string name = unicode(host);
    if (isASCII(name)) return false;

    // Set up once; checking with a checker nobody changes is safe from any
    // thread.
    static const USpoofChecker* const checker = [] {
        UErrorCode err = U_ZERO_ERROR;
        USpoofChecker* c = uspoof_open(&err);
        if (U_FAILURE(err)) return static_cast<USpoofChecker*>(nullptr);
        uspoof_setChecks(c, USPOOF_RESTRICTION_LEVEL | USPOOF_MIXED_NUMBERS, &err);
        uspoof_setRestrictionLevel(c, USPOOF_HIGHLY_RESTRICTIVE);
        return c;
    }();
    if (!checker) return true;
    UErrorCode st = U_ZERO_ERROR;
    bool lookalike = false;
    std::string_view rest = name;
    while (!lookalike && !rest.empty()) {
        const size_t dot = rest.find('.');
        const std::string_view label = rest.substr(0, dot);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (label.empty() || isASCII(label)) continue;
        st = U_ZERO_ERROR;
        const int32_t found = uspoof_checkUTF8(checker, label.data(), static_cast<int32_t>(label.size()), nullptr, &st);
        if (U_FAILURE(st) || found != 0) {
            lookalike = true;
            break;
        }
        // Every letter stands for a plain ASCII one: a whole-script imitation.
        std::string skeleton(label.size() * 4 + 16, '\0');
        st = U_ZERO_ERROR;
        int32_t n = uspoof_getSkeletonUTF8(checker, 0, label.data(), static_cast<int32_t>(label.size()),
                                           skeleton.data(), static_cast<int32_t>(skeleton.size()), &st);
        if (st == U_BUFFER_OVERFLOW_ERROR) {
            skeleton.assign(static_cast<size_t>(n) + 1, '\0');
            st = U_ZERO_ERROR;
            n = uspoof_getSkeletonUTF8(checker, 0, label.data(), static_cast<int32_t>(label.size()), skeleton.data(),
                                       static_cast<int32_t>(skeleton.size()), &st);
        }
        if (U_SUCCESS(st) && n > 0 && isASCII(std::string_view(skeleton.data(), static_cast<size_t>(n))))
            lookalike = true;
    }
    return lookalike;
}

std::optional<std::string> Domains::host(std::string_view url) {
    std::string_view s = trimWhiteSpaceAndNewlines(url);
    if (s.empty()) return std::nullopt;

    // scheme ":" "//" authority, or a network-path reference "//" authority.
    size_t pos = 0;
    bool special = false;
    if (s.substr(0, 2) != "//") {
        if (!isSchemeStart(s[0])) return std::nullopt;
        size_t i = 1;
        while (i < s.size() && isSchemeChar(s[i])) ++i;
        if (i >= s.size() || s[i] != ':') return std::nullopt;
        const std::string scheme = lower(s.substr(0, i));
        special = scheme == "http" || scheme == "https";
        pos = i + 1;
        if (s.substr(pos, 2) != "//") return std::nullopt;
    }
    pos += 2;

    // The authority ends at the path, query or fragment. Browsers read a
    // backslash in a web address as a slash, so it ends the authority too:
    // the host must be the one a click would really reach.
    size_t end = pos;
    while (end < s.size()) {
        const char c = s[end];
        if (c == '/' || c == '?' || c == '#' || (special && c == '\\')) break;
        ++end;
    }
    std::string_view authority = s.substr(pos, end - pos);

    // User information ("user:password@") comes before the last "@".
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);

    std::string_view hostPart;
    std::string_view portPart;
    std::string decodedHost;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        hostPart = authority.substr(1, close - 1);
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return std::nullopt;
            portPart = rest.substr(1);
        }
        if (hostPart.empty()) return std::nullopt;
        for (char c : hostPart) {
            const bool ok =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
            if (!ok) return std::nullopt;
        }
    } else {
        const size_t colon = authority.rfind(':');
        if (colon != std::string_view::npos) {
            hostPart = authority.substr(0, colon);
            portPart = authority.substr(colon + 1);
        } else {
            hostPart = authority;
        }
        if (hostPart.empty()) return std::nullopt;
        // A percent-encoded host name means the decoded name to a browser.
        if (hostPart.find('%') != std::string_view::npos) {
            auto hex = [](char c) -> int {
                if (c >= '0' && c <= '9') return c - '0';
                if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                return -1;
            };
            for (size_t i = 0; i < hostPart.size(); ++i) {
                if (hostPart[i] != '%') {
                    decodedHost += hostPart[i];
                    continue;
                }
                if (i + 2 >= hostPart.size() || hex(hostPart[i + 1]) < 0 || hex(hostPart[i + 2]) < 0)
                    return std::nullopt;
                decodedHost += static_cast<char>(hex(hostPart[i + 1]) * 16 + hex(hostPart[i + 2]));
                i += 2;
            }
            hostPart = decodedHost;
            if (hostPart.empty()) return std::nullopt;
        }
        const auto* p = reinterpret_cast<const uint8_t*>(hostPart.data());
        const int32_t n = static_cast<int32_t>(hostPart.size());
        for (int32_t i = 0; i < n;) {
            UChar32 c;
            U8_NEXT(p, i, n, c);
            if (c < 0 || badHostChar(c)) return std::nullopt;
        }
    }
    for (char c : portPart)
        if (c < '0' || c > '9') return std::nullopt;
    return lower(hostPart);
}

std::string Domains::registrable(std::string_view domain) {
    std::string d = lower(domain);
    size_t b = 0, e = d.size();
    while (b < e && (d[b] == '.' || d[b] == ' ')) ++b;
    while (e > b && (d[e - 1] == '.' || d[e - 1] == ' ')) --e;
    d = d.substr(b, e - b);

    std::vector<std::string_view> labels;
    std::string_view v = d;
    size_t start = 0;
    while (start <= v.size()) {
        size_t dot = v.find('.', start);
        if (dot == std::string_view::npos) dot = v.size();
        if (dot > start) labels.push_back(v.substr(start, dot - start));
        start = dot + 1;
    }
    if (labels.size() < 3) return d;
    const size_t n = labels.size();
    std::string lastTwo = std::string(labels[n - 2]) + "." + std::string(labels[n - 1]);
    for (auto suffix : twoLevelSuffixes)
        if (suffix == lastTwo) return std::string(labels[n - 3]) + "." + lastTwo;
    return lastTwo;
}

std::string Domains::firstLabel(std::string_view domain) {
    size_t start = 0;
    while (start < domain.size()) {
        size_t dot = domain.find('.', start);
        if (dot == std::string_view::npos) dot = domain.size();
        if (dot > start) return std::string(domain.substr(start, dot - start));
        start = dot + 1;
    }
    return std::string(domain);
}

}  // namespace bx
