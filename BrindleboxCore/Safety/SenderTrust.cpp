#include "Safety/SenderTrust.h"

#include <vector>

#include "Mime/AddressParser.h"
#include "Safety/Domains.h"
#include "Util/BudgetedRegex.h"

namespace bx {

using R = BudgetedRegex;

namespace {

const BudgetedRegex& resultRegex() {
    static const BudgetedRegex re("\\b(spf|dkim|dmarc)\\s*=\\s*([a-zA-Z]+)", UREGEX_CASE_INSENSITIVE);
    return re;
}

// One method's result and the text of its properties: what follows the
// result up to the next method or the end of its ";"-separated entry, with
// comments removed (they are free text and may quote anything).
struct Finding {
    std::string method, result, properties;
};

std::string propertiesText(const icu::UnicodeString& text, int32_t from, int32_t to) {
    icu::UnicodeString out;
    int depth = 0;
    for (int32_t i = from; i < to; ++i) {
        const char16_t c = text.charAt(i);
        if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (depth > 0) --depth;
        } else if (depth == 0) {
            if (c == u';') break;
            out.append(c);
        }
    }
    std::string utf8;
    out.toUTF8String(utf8);
    return Domains::lower(utf8);
}

// The domain a property names ("header.d=example.com",
// "smtp.mailfrom=bounce@example.com", "header.i=@example.com"), if present.
std::optional<std::string> propertyDomain(std::string_view properties, std::string_view name) {
    std::size_t at = 0;
    while (at < properties.size()) {
        const std::size_t start = properties.find_first_not_of(" \t\r\n", at);
        if (start == std::string_view::npos) break;
        std::size_t end = properties.find_first_of(" \t\r\n", start);
        if (end == std::string_view::npos) end = properties.size();
        std::string_view token = properties.substr(start, end - start);
        at = end;
        if (token.size() <= name.size() || token.substr(0, name.size()) != name || token[name.size()] != '=') continue;
        std::string_view value = token.substr(name.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (const std::size_t a = value.rfind('@'); a != std::string_view::npos) value = value.substr(a + 1);
        if (value.empty()) return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

// Whether a passing result of `method` vouches for `fromDomain`: the domain
// that DKIM signed for (header.d, else the domain of header.i) or that SPF
// checked (smtp.mailfrom) has the From address's registrable domain.
bool passesFor(const std::vector<Finding>& findings, std::string_view method, const std::string& fromDomain) {
    if (fromDomain.empty()) return false;
    const std::string sender = Domains::registrable(fromDomain);
    for (const auto& f : findings) {
        if (f.method != method || f.result != "pass") continue;
        std::optional<std::string> named;
        if (method == "dkim") {
            named = propertyDomain(f.properties, "header.d");
            if (!named) named = propertyDomain(f.properties, "header.i");
        } else {
            named = propertyDomain(f.properties, "smtp.mailfrom");
        }
        if (named && Domains::registrable(*named) == sender) return true;
    }
    return false;
}

}  // namespace

std::optional<SenderTrust> SenderTrust::fromRawValue(std::string_view raw) {
    if (raw == "verified") return SenderTrust(verified);
    if (raw == "failed") return SenderTrust(failed);
    if (raw == "partial") return SenderTrust(partial);
    if (raw == "unknown") return SenderTrust(unknown);
    return std::nullopt;
}

std::string_view SenderTrust::rawValue() const {
    switch (value_) {
        case verified: return "verified";
        case failed: return "failed";
        case partial: return "partial";
        case unknown: break;
    }
    return "unknown";
}

bool SenderTrust::isFailingResult(std::string_view r) {
    return r == "fail" || r == "softfail" || r == "permerror" || r == "hardfail";
}

std::pair<SenderTrust, std::map<std::string, std::string>> SenderTrust::from(const MIMEHeaders& headers) {
    std::map<std::string, std::string> results;
    auto values = headers.all("Authentication-Results");
    if (values.empty()) values = headers.all("ARC-Authentication-Results");
    if (values.empty()) return {SenderTrust(unknown), results};

    // Only the topmost field counts: it is the one the receiving server
    // added; anything below it may have come with the message.
    const icu::UnicodeString text = R::toUnicode(values.front());
    RegexBudget budget;
    std::vector<Finding> findings;
    std::vector<std::pair<int32_t, int32_t>> spans;  // each match's start and end
    resultRegex().forEachMatch(text, budget, [&](const icu::RegexMatcher& m) {
        std::string method = Domains::lower(R::groupUTF8(m, 1));
        std::string result = Domains::lower(R::groupUTF8(m, 2));
        UErrorCode status = U_ZERO_ERROR;
        spans.emplace_back(m.start(status), m.end(status));
        findings.push_back({method, result, {}});
        auto it = results.find(method);
        if (it == results.end()) {
            results.emplace(std::move(method), std::move(result));
        } else if (it->second == "pass" && result != "pass") {
            // A failing signature among passing ones must not be hidden.
            it->second = std::move(result);
        }
        return true;
    });
    if (results.empty()) return {SenderTrust(unknown), results};
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const int32_t to = i + 1 < spans.size() ? spans[i + 1].first : text.length();
        findings[i].properties = propertiesText(text, spans[i].second, to);
    }

    auto get = [&](const char* k) -> std::string_view {
        auto it = results.find(k);
        return it == results.end() ? std::string_view() : std::string_view(it->second);
    };
    const std::string_view spf = get("spf"), dkim = get("dkim"), dmarc = get("dmarc");
    const bool dmarcPass = dmarc == "pass";
    SenderTrust verdict(partial);
    if (isFailingResult(dmarc))
        verdict = failed;
    else if (isFailingResult(dkim) && !dmarcPass)
        verdict = failed;
    else if ((spf == "fail" || spf == "hardfail") && !dmarcPass)
        verdict = failed;
    else if (dmarcPass)
        verdict = verified;
    else if (spf == "pass" && dkim == "pass") {
        // Passing for some other domain says nothing about the sender.
        const auto from = AddressParser::senders(headers["From"].value_or(""));
        const std::string fromDomain = from.empty() ? std::string() : from.front().domain();
        if (passesFor(findings, "spf", fromDomain) && passesFor(findings, "dkim", fromDomain)) verdict = verified;
    }
    return {verdict, results};
}

}  // namespace bx
