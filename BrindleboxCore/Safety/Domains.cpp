#include "Safety/Domains.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
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
    if (isIPAddress(d)) return d;

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

bool Domains::isIPAddress(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.find(':') != std::string_view::npos) {
        for (char c : host)
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.'))
                return false;
        return true;
    }
    int labels = 0;
    size_t start = 0;
    while (start <= host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string_view::npos) dot = host.size();
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 3) return false;
        for (char c : label)
            if (c < '0' || c > '9') return false;
        ++labels;
        start = dot + 1;
    }
    return labels == 4;
}

namespace {

// One part of an IPv4 address as a browser reads it: decimal, "0x" hex or
// leading-zero octal. nullopt when it is not a number.
std::optional<uint64_t> ipv4Part(std::string_view s) {
    if (s.empty()) return std::nullopt;
    int base = 10;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
        if (s.empty()) return 0;
    } else if (s.size() >= 2 && s[0] == '0') {
        base = 8;
        s.remove_prefix(1);
    }
    uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        if (d >= base) return std::nullopt;
        v = v * base + d;
        if (v > 0xFFFFFFFFull) return uint64_t(1) << 40;  // too large: rejected below
    }
    return v;
}

bool endsInNumber(std::string_view host) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    const size_t dot = host.rfind('.');
    const std::string_view last = dot == std::string_view::npos ? host : host.substr(dot + 1);
    if (last.empty()) return false;
    bool digits = true;
    for (char c : last) digits = digits && c >= '0' && c <= '9';
    return digits || ((last.size() >= 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X')) &&
                      std::all_of(last.begin() + 2, last.end(), [](char c) { return std::isxdigit(uint8_t(c)); }));
}

// A host that ends in a number is an IPv4 address to a browser, in dotted
// decimal from then on; nullopt when it cannot be one.
std::optional<std::string> ipv4(std::string_view host) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    std::vector<uint64_t> parts;
    size_t start = 0;
    while (start <= host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string_view::npos) dot = host.size();
        const auto v = ipv4Part(host.substr(start, dot - start));
        if (!v) return std::nullopt;
        parts.push_back(*v);
        start = dot + 1;
    }
    if (parts.empty() || parts.size() > 4) return std::nullopt;
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        if (parts[i] > 255) return std::nullopt;
    const unsigned lastBytes = 5 - static_cast<unsigned>(parts.size());
    if (parts.back() >= (uint64_t(1) << (8 * lastBytes))) return std::nullopt;
    uint64_t address = parts.back();
    for (size_t i = 0; i + 1 < parts.size(); ++i) address += parts[i] << (8 * (3 - i));
    return std::to_string((address >> 24) & 255) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

}  // namespace

std::optional<std::string> Domains::webURL(std::string_view url) {
    size_t b = 0, e = url.size();
    while (b < e && static_cast<unsigned char>(url[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(url[e - 1]) <= 0x20) --e;
    std::string s;
    s.reserve(e - b);
    for (size_t i = b; i < e; ++i)
        if (url[i] != '\t' && url[i] != '\n' && url[i] != '\r') s += url[i];
    if (s.empty() || !isSchemeStart(s[0])) return std::nullopt;
    size_t i = 1;
    while (i < s.size() && isSchemeChar(s[i])) ++i;
    if (i >= s.size() || s[i] != ':') return std::nullopt;
    std::string scheme = s.substr(0, i);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string_view rest = std::string_view(s).substr(i + 1);
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> special = {{
        {"http", "80"}, {"https", "443"}, {"ws", "80"}, {"wss", "443"}, {"ftp", "21"},
    }};
    const auto sp = std::find_if(special.begin(), special.end(), [&](const auto& p) { return p.first == scheme; });
    if (sp == special.end()) return scheme + ":" + std::string(rest);

    size_t p = 0;
    while (p < rest.size() && (rest[p] == '/' || rest[p] == '\\')) ++p;
    size_t end = p;
    while (end < rest.size() && rest[end] != '/' && rest[end] != '\\' && rest[end] != '?' && rest[end] != '#') ++end;
    std::string_view authority = rest.substr(p, end - p);
    std::string_view userinfo;
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        userinfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
    }
    std::string_view hostPart = authority, portPart;
    bool bracketed = false;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        hostPart = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after[0] != ':') return std::nullopt;
        if (!after.empty()) portPart = after.substr(1);
        bracketed = true;
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        hostPart = authority.substr(0, colon);
        portPart = authority.substr(colon + 1);
    }
    for (char c : portPart)
        if (c < '0' || c > '9') return std::nullopt;
    while (portPart.size() > 1 && portPart[0] == '0') portPart.remove_prefix(1);
    if (portPart == sp->second) portPart = {};

    std::string hostName;
    if (bracketed) {
        hostName = lower(hostPart);
    } else {
        // The whole authority with a user part is needed to find the host;
        // Domains::host reads that, and reads a percent-encoded name.
        const auto h = host("http://" + std::string(hostPart) + "/");
        if (!h || h->empty()) return std::nullopt;
        hostName = endsInNumber(*h) ? ipv4(*h).value_or(std::string()) : ace(*h);
        if (hostName.empty()) return std::nullopt;
    }

    std::string out = scheme + "://";
    if (!userinfo.empty()) out.append(userinfo).append("@");
    out += hostName;
    if (!portPart.empty()) out.append(":").append(portPart);
    std::string_view tail = rest.substr(end);
    if (tail.empty() || tail[0] == '?' || tail[0] == '#') out += '/';
    const size_t pathEnd = std::min(tail.find('?'), tail.find('#'));
    for (size_t k = 0; k < tail.size(); ++k) out += (k < pathEnd && tail[k] == '\\') ? '/' : tail[k];
    return out;
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
