#include "Safety/HTMLInspector.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "Mime/HTMLText.h"
#include "Safety/Domains.h"
#include "Util/BudgetedRegex.h"
#include "Util/Unicode.h"

namespace bx {

using R = BudgetedRegex;

namespace {

const BudgetedRegex& imgRegex() {
    static const BudgetedRegex re("<img\\b[^>]*>", UREGEX_CASE_INSENSITIVE);
    return re;
}
const BudgetedRegex& attrRegex() {
    static const BudgetedRegex re("([a-zA-Z-]+)\\s*=\\s*(\"[^\"]*\"|'[^']*'|[^\\s>]+)", 0);
    return re;
}
const BudgetedRegex& anchorRegex() {
    static const BudgetedRegex re("<a\\b([^>]*)>([\\s\\S]*?)</a\\s*>", UREGEX_CASE_INSENSITIVE);
    return re;
}
const BudgetedRegex& domainInTextRegex() {
    static const BudgetedRegex re("(?:https?://)?((?:[a-z0-9-]+\\.)+[a-z]{2,24})(?:[/:?#]\\S*)?",
                                  UREGEX_CASE_INSENSITIVE);
    return re;
}
const BudgetedRegex& urlInTextRegex() {
    static const BudgetedRegex re("(https?://[^\\s<]+)", 0);
    return re;
}

UChar lowerASCII(UChar c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<UChar>(c + 32) : c;
}

// No image tag can match after the last ">", so the scan stops there: without
// this, every unclosed "<img" would search to the end of the text.
int32_t imgRegionEnd(const icu::UnicodeString& s) {
    const int32_t gt = s.lastIndexOf(static_cast<UChar>('>'));
    return gt < 0 ? 0 : gt + 1;
}

// Every link must end with the last "</a\s*>" of the text; searching beyond
// it is wasted work that grows with the square of the text on hostile input.
int32_t anchorRegionEnd(const icu::UnicodeString& s) {
    const int32_t n = s.length();
    for (int32_t i = s.lastIndexOf(static_cast<UChar>('<')); i >= 0;
         i = i > 0 ? s.lastIndexOf(static_cast<UChar>('<'), 0, i) : -1) {
        if (i + 2 < n && s[i + 1] == '/' && lowerASCII(s[i + 2]) == 'a') {
            int32_t j = i + 3;
            while (j < n && isRegexSpace(s[j])) ++j;
            if (j < n && s[j] == '>') return j + 1;
        }
    }
    return 0;
}

std::string lowerString(std::string_view s) {
    return Domains::lower(s);
}

bool startsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

std::string_view trimWhiteSpaceAndNewlines(std::string_view s) {
    return trimCodePoints(s, isUnicodeWhiteSpace);
}

// Reads the text as a decimal number (sign, digits, fraction, exponent).
bool readNumber(std::string_view s, double& out) {
    if (s.empty()) return false;
    size_t i = 0;
    if (s[i] == '+' || s[i] == '-') ++i;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exp = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp;
        if (exp == 0) return false;
    }
    if (i != s.size()) return false;
    out = std::strtod(std::string(s).c_str(), nullptr);
    return true;
}

std::string removeAll(std::string s, std::string_view what) {
    size_t pos;
    while ((pos = s.find(what)) != std::string::npos) s.erase(pos, what.size());
    return s;
}

std::string base64(std::string_view data) {
    static constexpr char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    for (; i + 3 <= data.size(); i += 3) {
        const uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (const size_t rest = data.size() - i; rest > 0) {
        uint32_t v = p[i] << 16;
        if (rest == 2) v |= p[i + 1] << 8;
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += rest == 2 ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    if (from.empty() || s.find(from) == std::string::npos) return;
    std::string out;
    out.reserve(s.size() + to.size());
    size_t pos = 0;
    for (size_t hit; (hit = s.find(from, pos)) != std::string::npos; pos = hit + from.size()) {
        out.append(s, pos, hit - pos);
        out.append(to);
    }
    out.append(s, pos, std::string::npos);
    s.swap(out);
}

HTMLInspector::Attributes attributesOf(const icu::UnicodeString& tag, RegexBudget& budget) {
    HTMLInspector::Attributes map;
    icu::UnicodeString rest;
    int32_t last = 0;
    attrRegex().forEachMatch(tag, budget, [&](const icu::RegexMatcher& m) {
        UErrorCode st = U_ZERO_ERROR;
        const int32_t s = m.start(st), e = m.end(st);
        rest.append(tag, last, s - last);
        rest.append(static_cast<UChar>(' '));
        last = e;
        std::string name = lowerString(R::groupUTF8(m, 1));
        const int32_t vs = m.start(2, st), ve = m.end(2, st);
        icu::UnicodeString value(tag, vs, ve - vs);
        if (value.length() > 0 && (value[0] == '"' || value[0] == '\'')) {
            value = value.length() >= 2 ? icu::UnicodeString(value, 1, value.length() - 2) : icu::UnicodeString();
        }
        map[std::move(name)] = HTMLText::decodeEntities(R::toUTF8(value));
        return true;
    });
    rest.append(tag, last, tag.length() - last);
    rest.toLower(icu::Locale::getRoot());

    std::string bare;
    std::string word;
    const std::string restUTF8 = R::toUTF8(rest);
    auto flush = [&] {
        if (word.empty()) return;
        if (!bare.empty()) bare += ' ';
        bare += word;
        word.clear();
    };
    for (char c : restUTF8) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '<' || c == '>' || c == '/')
            flush();
        else
            word += c;
    }
    flush();
    if (!bare.empty()) map["__bare"] = std::move(bare);
    return map;
}

bool hasWord(std::string_view words, std::string_view w) {
    size_t start = 0;
    while (start <= words.size()) {
        size_t sp = words.find(' ', start);
        if (sp == std::string_view::npos) sp = words.size();
        if (words.substr(start, sp - start) == w) return true;
        start = sp + 1;
    }
    return false;
}

bool hostIsListedTracker(const std::string& host) {
    const std::string reg = Domains::registrable(host);
    for (auto row : HTMLInspector::trackerDomains()) {
        if (host == row || reg == row) return true;
        if (host.size() > row.size() && host.compare(host.size() - row.size(), row.size(), row) == 0 &&
            host[host.size() - row.size() - 1] == '.')
            return true;
    }
    return false;
}

// Where the display head goes: right after the document's own <head> start
// tag when that tag opens the document (only white space, comments, a
// doctype and the <html> tag before it). Anywhere else a browser has already
// started the body, and a Content-Security-Policy there would be ignored.
// Returns npos when the document has no such head.
size_t headInsertionPoint(std::string_view s) {
    const size_t n = s.size();
    size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; };
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    auto tagNamed = [&](size_t at, std::string_view name) {
        if (at + 1 + name.size() > n || s[at] != '<') return false;
        for (size_t k = 0; k < name.size(); ++k)
            if (lower(s[at + 1 + k]) != name[k]) return false;
        const size_t after = at + 1 + name.size();
        return after == n || isSpace(s[after]) || s[after] == '>' || s[after] == '/';
    };
    // End of a start tag, reading quoted attribute values as a browser does,
    // so a ">" inside quotes does not end it. npos when it never ends.
    auto tagEnd = [&](size_t at) -> size_t {
        size_t k = at + 1;
        while (k < n && !isSpace(s[k]) && s[k] != '>' && s[k] != '/') ++k;
        while (k < n) {
            const char c = s[k];
            if (c == '>') return k + 1;
            if (c == '=') {
                ++k;
                while (k < n && isSpace(s[k])) ++k;
                if (k < n && (s[k] == '"' || s[k] == '\'')) {
                    const size_t close = s.find(s[k], k + 1);
                    if (close == std::string_view::npos) return std::string_view::npos;
                    k = close + 1;
                }
                continue;
            }
            ++k;
        }
        return std::string_view::npos;
    };
    if (startsWith(s, "\xEF\xBB\xBF")) i = 3;
    bool seenHTML = false;
    while (i < n) {
        if (isSpace(s[i])) {
            ++i;
        } else if (startsWith(s.substr(i), "<!--")) {
            const size_t close = s.find("-->", i + 4);
            if (close == std::string_view::npos) return std::string_view::npos;
            i = close + 3;
        } else if (!seenHTML && (startsWith(s.substr(i), "<!") || startsWith(s.substr(i), "<?"))) {
            const size_t close = s.find('>', i + 2);
            if (close == std::string_view::npos) return std::string_view::npos;
            i = close + 1;
        } else if (!seenHTML && tagNamed(i, "html")) {
            const size_t end = tagEnd(i);
            if (end == std::string_view::npos) return std::string_view::npos;
            i = end;
            seenHTML = true;
        } else if (tagNamed(i, "head")) {
            return tagEnd(i);
        } else {
            return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

// The body in UTF-16, as inspect already holds it for the image scan.
std::vector<LinkWarning> linkWarningsIn(const icu::UnicodeString& text) {
    std::vector<LinkWarning> out;
    RegexBudget budget;
    const auto& extensions = HTMLInspector::fileExtensions();
    anchorRegex().forEachMatch(
        text, budget,
        [&](const icu::RegexMatcher& m) {
            UErrorCode st = U_ZERO_ERROR;
            const int32_t as = m.start(1, st), ae = m.end(1, st);
            icu::UnicodeString tag("<a ");
            tag.append(text, as, ae - as);
            tag.append(static_cast<UChar>('>'));
            const HTMLInspector::Attributes a = attributesOf(tag, budget);
            auto href = a.find("href");
            if (href == a.end() || !startsWith(lowerString(href->second), "http")) return true;
            const auto host = Domains::host(href->second);
            if (!host) return true;

            const std::string inner = R::groupUTF8(m, 2);
            const std::string plain = HTMLText::toPlain(inner);
            const std::string shown(trimWhiteSpaceAndNewlines(plain));
            if (shown.empty()) return true;
            if (shown.size() > 199 && characterCount(shown) > 199) return true;

            // A look-alike host that the text names reads as the site it
            // imitates ("аррӏе.com" for apple.com): the text shows one site,
            // the link opens another.
            if (Domains::isLookalike(*host)) {
                const std::string named = Domains::registrable(Domains::unicode(*host));
                if (Domains::lower(shown).find(named) != std::string::npos) {
                    out.push_back({shown, named, *host, href->second});
                    return true;
                }
            }

            std::string shownDomain;
            RegexBudget small;
            if (!domainInTextRegex().firstMatch(R::toUnicode(shown), small, [&](const icu::RegexMatcher& dm) {
                    shownDomain = lowerString(R::groupUTF8(dm, 1));
                }))
                return true;
            const size_t dot = shownDomain.rfind('.');
            const std::string_view tld = dot == std::string::npos ? std::string_view(shownDomain)
                                                                  : std::string_view(shownDomain).substr(dot + 1);
            if (tld.size() < 2) return true;
            const auto* p = reinterpret_cast<const uint8_t*>(tld.data());
            const int32_t n = static_cast<int32_t>(tld.size());
            for (int32_t i = 0; i < n;) {
                UChar32 c;
                U8_NEXT(p, i, n, c);
                if (c < 0 || !u_isalpha(c)) return true;
            }
            if (std::find(extensions.begin(), extensions.end(), tld) != extensions.end()) return true;
            // Compared as the browser resolves them: one site written in its
            // international and its "xn--" form is one site.
            if (Domains::registrable(Domains::ace(shownDomain)) == Domains::registrable(Domains::ace(*host)))
                return true;
            out.push_back({shown, shownDomain, *host, href->second});
            return true;
        },
        0, anchorRegionEnd(text));
    return out;
}

}  // namespace

const std::vector<std::string_view>& HTMLInspector::trackerDomains() {
    static const std::vector<std::string_view> rows = {
        "list-manage.com",      "mailchimp.com",     "mandrillapp.com",
        "sendgrid.net",         "sparkpostmail.com", "mailgun.org",
        "mailjet.com",          "exct.net",          "exacttarget.com",
        "pardot.com",           "hubspot.com",       "hubspotemail.net",
        "mktoresp.com",         "en25.com",          "eloqua.com",
        "responsys.net",        "rs6.net",           "constantcontact.com",
        "createsend.com",       "cmail19.com",       "cmail20.com",
        "klaviyo.com",          "sailthru.com",      "braze.com",
        "customeriomail.com",   "intercom.io",       "intercom-mail.com",
        "sendinblue.com",       "brevo.com",         "mailerlite.com",
        "mlsend.com",           "getresponse.com",   "aweber.com",
        "activehosted.com",     "convertkit.com",    "omnisend.com",
        "awstrack.me",          "pstmrk.it",         "emltrk.com",
        "mailtrack.io",         "yesware.com",       "mixmax.com",
        "google-analytics.com", "doubleclick.net",
    };
    return rows;
}

const std::array<std::string_view, 9>& HTMLInspector::trackerPathHints() {
    static constexpr std::array<std::string_view, 9> hints = {
        "/open", "/track", "pixel", "beacon", "/wf/open", "/o.gif", "/e/o/", "openrate", "/imp?",
    };
    return hints;
}

const std::array<std::string_view, 14>& HTMLInspector::fileExtensions() {
    static constexpr std::array<std::string_view, 14> ext = {
        "pdf", "png", "jpg", "jpeg", "gif", "doc", "docx", "zip", "html", "htm", "txt", "csv", "xls", "xlsx",
    };
    return ext;
}

const std::string& HTMLInspector::displayHead() {
    static const std::string head =
        "<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; object-src 'none'\">\n"
        "<style>html{background:#fff} body{margin:18px 22px;font:14px -apple-system,system-ui,sans-serif;"
        "color:#1d1d1f;word-wrap:break-word} img{max-width:100%;height:auto} table{max-width:100%}</style>";
    return head;
}

const std::string& HTMLInspector::plainTextHead() {
    static const std::string head =
        "<!doctype html><html><head><meta charset=\"utf-8\">\n"
        "<style>\n"
        ":root{color-scheme:light dark}\n"
        "body{margin:18px 22px;font:14px/1.55 -apple-system,system-ui,sans-serif;white-space:pre-wrap;"
        "word-wrap:break-word;color:#1d1d1f;background:transparent}\n"
        "a{color:#1e3c72}\n"
        "@media (prefers-color-scheme: dark){body{color:#ececf0} a{color:#5cc4b6}}\n"
        "</style></head><body>";
    return head;
}

HTMLInspector::Attributes HTMLInspector::attributes(std::string_view tag) {
    RegexBudget budget;
    return attributesOf(R::toUnicode(tag), budget);
}

bool HTMLInspector::isTracker(const Attributes& a) {
    if (a.empty()) return false;
    const auto src = a.find("src");
    if (src == a.end()) return false;
    const std::string lowerSrc = lowerString(src->second);
    if (!startsWith(lowerSrc, "http")) return false;

    for (const char* key : {"width", "height"}) {
        auto it = a.find(key);
        if (it == a.end()) continue;
        const std::string v = removeAll(lowerString(it->second), "px");
        double number;
        if (readNumber(trimCodePoints(v, [](char32_t c) { return c == ' ' || c == '\t'; }), number) && number <= 2)
            return true;
    }

    std::string style;
    if (auto it = a.find("style"); it != a.end()) style = removeAll(lowerString(it->second), " ");
    for (std::string_view hidden :
         {"display:none", "visibility:hidden", "opacity:0", "width:1px", "height:1px", "width:0", "height:0"})
        if (style.find(hidden) != std::string::npos) return true;

    if (a.count("hidden")) return true;
    if (auto it = a.find("__bare"); it != a.end() && hasWord(it->second, "hidden")) return true;

    const auto host = Domains::host(src->second);
    if (!host || !hostIsListedTracker(*host)) return false;

    for (auto hint : trackerPathHints())
        if (lowerSrc.find(hint) != std::string::npos) return true;
    return !a.count("width") && !a.count("height");
}

HTMLReport HTMLInspector::inspect(std::string_view html) {
    HTMLReport report;
    RegexBudget budget;
    const icu::UnicodeString text = R::toUnicode(html);
    std::vector<std::string> hosts;
    imgRegex().forEachMatch(
        text, budget,
        [&](const icu::RegexMatcher& m) {
            UErrorCode st = U_ZERO_ERROR;
            const int32_t s = m.start(st), e = m.end(st);
            const Attributes a = attributesOf(icu::UnicodeString(text, s, e - s), budget);
            auto src = a.find("src");
            if (src == a.end() || !startsWith(lowerString(src->second), "http")) return true;
            if (isTracker(a)) {
                ++report.trackerCount;
                if (auto h = Domains::host(src->second)) hosts.push_back(Domains::registrable(*h));
            } else {
                ++report.remoteImageCount;
            }
            return true;
        },
        0, imgRegionEnd(text));
    std::unordered_set<std::string> seen;
    for (auto& h : hosts)
        if (seen.insert(h).second) report.trackerHosts.push_back(std::move(h));
    report.linkWarnings = linkWarningsIn(text);
    return report;
}

std::vector<LinkWarning> HTMLInspector::linkWarnings(std::string_view html) {
    return linkWarningsIn(R::toUnicode(html));
}

std::string HTMLInspector::prepareForDisplay(std::string_view html, const std::vector<MailAttachment>& attachments,
                                             bool /*dark*/) {
    std::string result(html);
    for (const auto& att : attachments) {
        // An empty Content-ID would turn every "cid:" of the page into this part.
        if (!att.contentID || att.contentID->empty()) continue;
        const std::string token = "cid:" + *att.contentID;
        if (att.data.size() > maxInlineBytes || result.find(token) == std::string::npos) continue;
        replaceAll(result, token, "data:" + att.mimeType + ";base64," + base64(att.data));
    }

    {
        RegexBudget budget;
        const icu::UnicodeString text = R::toUnicode(result);
        icu::UnicodeString out;
        int32_t last = 0;
        bool removed = false;
        imgRegex().forEachMatch(
            text, budget,
            [&](const icu::RegexMatcher& m) {
                UErrorCode st = U_ZERO_ERROR;
                const int32_t s = m.start(st), e = m.end(st);
                if (isTracker(attributesOf(icu::UnicodeString(text, s, e - s), budget))) {
                    out.append(text, last, s - last);
                    out.append(icu::UnicodeString("<!-- tracker removed by Brindlebox -->"));
                    last = e;
                    removed = true;
                }
                return true;
            },
            0, imgRegionEnd(text));
        if (removed) {
            out.append(text, last, text.length() - last);
            result = R::toUTF8(out);
        }
    }

    const size_t at = headInsertionPoint(result);
    if (at != std::string_view::npos) {
        result.insert(at, displayHead());
        return result;
    }
    return "<!doctype html><html><head>" + displayHead() + "</head><body>" + result + "</body></html>";
}

std::string HTMLInspector::plainTextDocument(std::string_view text) {
    const std::string escaped = HTMLText::escape(text);
    const icu::UnicodeString u = R::toUnicode(escaped);
    std::string body;
    body.reserve(escaped.size() + 64);
    int32_t last = 0;
    RegexBudget budget;
    urlInTextRegex().forEachMatch(u, budget, [&](const icu::RegexMatcher& m) {
        UErrorCode st = U_ZERO_ERROR;
        const int32_t s = m.start(st), e = m.end(st);
        body += R::toUTF8(u, last, s);
        const std::string url = R::toUTF8(u, s, e);
        body += "<a href=\"" + url + "\">" + url + "</a>";
        last = e;
        return true;
    });
    body += R::toUTF8(u, last, u.length());
    return plainTextHead() + body + "</body></html>";
}

}  // namespace bx
