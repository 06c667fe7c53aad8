#include "Safety/SenderCheck.h"

#include <algorithm>
#include <array>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "Safety/Domains.h"
#include "Util/BudgetedRegex.h"
#include "Util/Unicode.h"

namespace bx {

using R = BudgetedRegex;

namespace {

const BudgetedRegex& domainRegex() {
    static const BudgetedRegex re("([a-z0-9-]+(?:\\.[a-z0-9-]+)*\\.[a-z]{2,24})", UREGEX_CASE_INSENSITIVE);
    return re;
}

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    if (s.find(from) == std::string::npos) return;
    std::string out;
    out.reserve(s.size());
    size_t pos = 0;
    while (true) {
        const size_t hit = s.find(from, pos);
        if (hit == std::string::npos) break;
        out.append(s, pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s, pos, std::string::npos);
    s.swap(out);
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t at = s.find(sep, start);
        if (at == std::string_view::npos) at = s.size();
        if (at > start) out.push_back(s.substr(start, at - start));
        start = at + 1;
    }
    return out;
}

// The user-perceived characters of s, as views into it.
std::vector<std::string_view> characters(std::string_view s) {
    std::vector<std::string_view> out;
    if (isASCII(s)) {
        for (size_t i = 0; i < s.size(); ++i) out.push_back(s.substr(i, 1));
        return out;
    }
    forEachCharacter(s, [&](std::string_view c) { out.push_back(c); });
    return out;
}

// Words of a display name: runs of letters, digits and their marks.
std::vector<std::string> nameWords(std::string_view lowered) {
    std::vector<std::string> words;
    std::string cur;
    const auto* p = reinterpret_cast<const uint8_t*>(lowered.data());
    const int32_t n = static_cast<int32_t>(lowered.size());
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        const bool word = c >= 0 && (u_isalpha(c) || u_isdigit(c) || (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0 ||
                                     u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE);
        if (word) {
            cur.append(lowered.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
        } else if (!cur.empty()) {
            words.push_back(std::move(cur));
            cur.clear();
        }
    }
    if (!cur.empty()) words.push_back(std::move(cur));
    return words;
}

std::string capitalized(std::string_view key) {
    std::string out(key);
    bool atStart = true;
    for (auto& c : out) {
        if (c >= 'a' && c <= 'z' && atStart) c = static_cast<char>(c - 'a' + 'A');
        atStart = !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    }
    return out;
}

// What the look-alike test compares for each brand (same order as brands()),
// worked out once rather than for every message.
struct BrandLabel {
    std::string label;     // first label of the primary domain
    std::string skeleton;  // of that label
    bool oneEditCounts;    // one edit away is a look-alike: not a short brand, five or more characters
};

const std::vector<BrandLabel>& brandLabels() {
    static const std::vector<BrandLabel> rows = [] {
        std::vector<BrandLabel> out;
        for (const auto& brand : SenderCheck::brands()) {
            std::string label = Domains::firstLabel(brand.domains.front());
            std::string skel = SenderCheck::skeleton(label);
            const bool oneEdit = !SenderCheck::shortBrands().count(brand.key) && characters(label).size() >= 5;
            out.push_back({std::move(label), std::move(skel), oneEdit});
        }
        return out;
    }();
    return rows;
}

}  // namespace

const std::vector<SenderCheck::Brand>& SenderCheck::brands() {
    static const std::vector<Brand> table = {
        {"paypal", {"paypal.com", "paypal.me", "paypal.co.uk", "paypal.de"}},
        {"apple", {"apple.com", "icloud.com", "me.com", "mac.com"}},
        {"microsoft",
         {"microsoft.com", "outlook.com", "live.com", "hotmail.com", "office.com", "microsoftonline.com",
          "office365.com"}},
        {"google", {"google.com", "gmail.com", "youtube.com", "googlemail.com", "google.co.uk"}},
        {"amazon",
         {"amazon.com", "amazon.co.uk", "amazon.de", "amazon.fr", "amazon.it", "amazon.ca", "amazon.co.jp",
          "amazon.in"}},
        {"facebook", {"facebook.com", "facebookmail.com", "fb.com", "meta.com"}},
        {"instagram", {"instagram.com"}},
        {"linkedin", {"linkedin.com"}},
        {"netflix", {"netflix.com"}},
        {"spotify", {"spotify.com"}},
        {"dhl", {"dhl.com", "dhl.de", "dhl.co.uk"}},
        {"ups", {"ups.com"}},
        {"fedex", {"fedex.com"}},
        {"usps", {"usps.com"}},
        {"chase", {"chase.com", "jpmorgan.com", "jpmorganchase.com"}},
        {"wellsfargo", {"wellsfargo.com", "wellsfargoadvisors.com"}},
        {"bankofamerica", {"bankofamerica.com"}},
        {"citi", {"citi.com", "citibank.com", "citigroup.com"}},
        {"hsbc", {"hsbc.com", "hsbc.co.uk", "hsbc.com.hk"}},
        {"barclays", {"barclays.com", "barclays.co.uk"}},
        {"coinbase", {"coinbase.com"}},
        {"binance", {"binance.com", "binance.us"}},
        {"visa", {"visa.com"}},
        {"mastercard", {"mastercard.com"}},
        {"amex", {"americanexpress.com", "aexp.com"}},
        {"dropbox", {"dropbox.com", "dropboxmail.com"}},
        {"box", {"box.com"}},
        {"docusign", {"docusign.com", "docusign.net"}},
        {"adobe", {"adobe.com"}},
        {"zoom", {"zoom.us", "zoom.com", "zoomgov.com"}},
        {"steam", {"steampowered.com", "steamcommunity.com"}},
        {"irs", {"irs.gov"}},
        {"hmrc", {"hmrc.gov.uk"}},
        {"ebay", {"ebay.com", "ebay.co.uk", "ebay.de"}},
        {"walmart", {"walmart.com"}},
        {"wetransfer", {"wetransfer.com"}},
        {"yahoo", {"yahoo.com", "yahoo.co.jp", "ymail.com"}},
        {"whatsapp", {"whatsapp.com"}},
    };
    return table;
}

const std::set<std::string_view>& SenderCheck::shortBrands() {
    static const std::set<std::string_view> set = {
        "apple", "chase", "ups", "visa", "box", "zoom", "steam", "irs", "usps",
    };
    return set;
}

const std::set<std::string_view>& SenderCheck::genericWords() {
    static const std::set<std::string_view> set = {
        "support",      "team",          "service",  "services", "security", "account",  "accounts",     "online",
        "bank",         "billing",       "customer", "care",     "help",     "helpdesk", "alert",        "alerts",
        "notification", "notifications", "no",       "reply",    "noreply",  "id",       "mail",         "inc",
        "the",          "official",      "center",   "centre",   "delivery", "express",  "verification", "verify",
        "update",       "updates",       "info",     "admin",    "desk",     "store",    "pay",
    };
    return set;
}

std::string SenderCheck::skeleton(std::string_view s) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 12> pairs = {{
        {"rn", "m"},
        {"vv", "w"},
        {"cl", "d"},
        {"0", "o"},
        {"1", "l"},
        {"3", "e"},
        {"5", "s"},
        {"4", "a"},
        {"7", "t"},
        {"8", "b"},
        {"-", ""},
        {"_", ""},
    }};
    std::string out = Domains::lower(s);
    for (const auto& [from, to] : pairs) replaceAll(out, from, to);
    return out;
}

int SenderCheck::distance(std::string_view a, std::string_view b) {
    const auto ca = characters(a);
    const auto cb = characters(b);
    if (ca.empty()) return static_cast<int>(cb.size());
    if (cb.empty()) return static_cast<int>(ca.size());
    std::vector<int> prev(cb.size() + 1), cur(cb.size() + 1);
    for (size_t j = 0; j <= cb.size(); ++j) prev[j] = static_cast<int>(j);
    for (size_t i = 1; i <= ca.size(); ++i) {
        cur[0] = static_cast<int>(i);
        for (size_t j = 1; j <= cb.size(); ++j) {
            const int cost = ca[i - 1] == cb[j - 1] ? 0 : 1;
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
        }
        std::swap(prev, cur);
    }
    return prev[cb.size()];
}

std::vector<SenderFlag> SenderCheck::check(const std::optional<MailAddress>& from,
                                           const std::set<std::string>& knownDomains,
                                           const std::map<std::string, std::string>& knownNames) {
    std::vector<SenderFlag> flags;
    if (!from) return flags;
    const std::string domain = from->domain();
    if (domain.empty()) return flags;
    const std::string reg = Domains::registrable(domain);
    const std::string senderLabel = Domains::firstLabel(reg);
    const std::string& name = from->name;

    // 1. International characters in the domain.
    bool international = !isASCII(domain);
    for (auto label : split(domain, '.'))
        if (label.substr(0, 4) == "xn--") international = true;
    if (international) {
        flags.push_back({SenderFlag::Kind::punycode, "Look-alike characters in " + reg,
                         "The sender\u2019s domain " + domain +
                             " uses international characters that can imitate ordinary letters."});
    }

    // 2. A domain written in the display name.
    bool nameFlagged = false;
    const std::string lowerName = Domains::lower(name);
    {
        RegexBudget budget;
        std::string shownGroup;
        const icu::UnicodeString u = R::toUnicode(lowerName);
        if (domainRegex().firstMatch(u, budget, [&](const icu::RegexMatcher& m) { shownGroup = R::groupUTF8(m, 1); })) {
            const std::string shown = Domains::registrable(shownGroup);
            if (shown != reg) {
                flags.push_back({SenderFlag::Kind::displayName, "Name shows " + shown,
                                 "The name says " + shown + ", but the message came from " + domain + "."});
                nameFlagged = true;
            }
        }
    }

    // 3. A name the vault knows, writing from somewhere else.
    if (!nameFlagged) {
        const std::string_view key = trimSpacesTabs(lowerName);
        if (!key.empty()) {
            auto it = knownNames.find(std::string(key));
            if (it != knownNames.end() && it->second != reg && !knownDomains.count(reg)) {
                const std::string& usual = it->second;
                flags.push_back({SenderFlag::Kind::displayName, name + " usually writes from " + usual,
                                 "Mail from \u201C" + name + "\u201D in your vault comes from " + usual +
                                     ". This one came from " + domain + "."});
                nameFlagged = true;
            }
        }
    }

    // 4. A brand named in the display name.
    if (!nameFlagged) {
        const auto words = nameWords(lowerName);
        std::string joined;
        for (const auto& w : words) joined += w;
        const auto& shorts = shortBrands();
        const auto& generic = genericWords();
        for (const auto& brand : brands()) {
            const bool inWords = std::find(words.begin(), words.end(), brand.key) != words.end();
            bool named;
            if (shorts.count(brand.key)) {
                named = inWords && std::all_of(words.begin(), words.end(), [&](const std::string& w) {
                            return w == brand.key || generic.count(w) > 0;
                        });
            } else {
                named = inWords || (brand.key.size() >= 6 && joined.find(brand.key) != std::string::npos);
            }
            if (!named) continue;
            if (std::find(brand.domains.begin(), brand.domains.end(), reg) != brand.domains.end()) continue;
            const std::string title = capitalized(brand.key);
            flags.push_back({SenderFlag::Kind::displayName, "Says " + title + ", sent from " + reg,
                             "The name says it\u2019s from " + name + ", but the message came from " + domain +
                                 ", which isn\u2019t one of " + title + "\u2019s domains."});
            break;
        }
    }

    // 5. A domain that imitates a brand's.
    for (const auto& brand : brands())
        if (std::find(brand.domains.begin(), brand.domains.end(), reg) != brand.domains.end()) return flags;
    const std::string skel = skeleton(senderLabel);
    const auto parts = split(senderLabel, '-');
    auto partsContain = [&](std::string_view w) {
        return parts.size() >= 2 && std::find(parts.begin(), parts.end(), w) != parts.end();
    };
    const auto& labels = brandLabels();
    for (size_t i = 0; i < labels.size(); ++i) {
        const Brand& brand = brands()[i];
        const auto& [brandLabel, brandSkel, oneEditCounts] = labels[i];
        const bool imitates = (brandSkel == skel && brandLabel != senderLabel) ||
                              (oneEditCounts && distance(skel, brandSkel) == 1) || partsContain(brandLabel) ||
                              partsContain(brand.key);
        if (imitates) {
            const std::string p(brand.domains.front());
            flags.push_back(
                {SenderFlag::Kind::lookalike, reg + " imitates " + p,
                 reg + " looks like " + p + " but isn\u2019t. Look-alike domains are a common phishing trick."});
            return flags;
        }
    }

    // 6. A domain that imitates one the vault already knows.
    if (knownDomains.count(reg)) return flags;
    for (const auto& known : knownDomains) {  // std::set: ascending
        const std::string knownLabel = Domains::firstLabel(known);
        const size_t knownLength = characters(knownLabel).size();
        if (knownLength < 4) continue;
        const std::string knownSkel = skeleton(knownLabel);
        const bool imitates = (knownSkel == skel && knownLabel != senderLabel) ||
                              (knownLength >= 6 && distance(skel, knownSkel) == 1) || partsContain(knownLabel);
        if (imitates) {
            flags.push_back({SenderFlag::Kind::lookalike, reg + " imitates " + known,
                             reg + " looks like " + known +
                                 ", a sender already in your vault \u2014 but it isn\u2019t the same domain."});
            return flags;
        }
    }
    return flags;
}

}  // namespace bx
