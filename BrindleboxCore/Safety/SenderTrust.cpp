#include "Safety/SenderTrust.h"

#include "Safety/Domains.h"
#include "Util/BudgetedRegex.h"

namespace bx {

using R = BudgetedRegex;

namespace {

const BudgetedRegex& resultRegex() {
    static const BudgetedRegex re("\\b(spf|dkim|dmarc)\\s*=\\s*([a-zA-Z]+)", UREGEX_CASE_INSENSITIVE);
    return re;
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
    return r == "fail" || r == "softfail" || r == "permerror";
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
    resultRegex().forEachMatch(text, budget, [&](const icu::RegexMatcher& m) {
        std::string method = Domains::lower(R::groupUTF8(m, 1));
        std::string result = Domains::lower(R::groupUTF8(m, 2));
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
    else if (spf == "fail" && !dmarcPass)
        verdict = failed;
    else if (dmarcPass)
        verdict = verified;
    else if (spf == "pass" && dkim == "pass")
        verdict = verified;
    return {verdict, results};
}

}  // namespace bx
