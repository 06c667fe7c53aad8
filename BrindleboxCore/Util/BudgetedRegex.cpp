#include "Util/BudgetedRegex.h"

#include <cstdio>
#include <cstdlib>

namespace bx {

namespace {

UBool countTick(const void* context, int32_t) {
    auto* budget = static_cast<RegexBudget*>(const_cast<void*>(context));
    --budget->ticksLeft;
    return budget->ticksLeft > 0;
}

}  // namespace

BudgetedRegex::BudgetedRegex(std::string_view pattern, uint32_t flags, int32_t stackLimit) : stackLimit_(stackLimit) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError pe;
    pattern_.reset(icu::RegexPattern::compile(toUnicode(pattern), flags, pe, status));
    if (U_FAILURE(status) || !pattern_) {
        std::fprintf(stderr, "fixed regular expression does not compile: %.*s (%s)\n", static_cast<int>(pattern.size()),
                     pattern.data(), u_errorName(status));
        std::abort();
    }
}

BudgetedRegex::~BudgetedRegex() = default;
BudgetedRegex::BudgetedRegex(BudgetedRegex&&) noexcept = default;
BudgetedRegex& BudgetedRegex::operator=(BudgetedRegex&&) noexcept = default;

void BudgetedRegex::forEachMatch(const icu::UnicodeString& text, RegexBudget& budget,
                                 const std::function<bool(const icu::RegexMatcher&)>& f, int32_t regionStart,
                                 int32_t regionEnd) const {
    if (budget.exhausted()) return;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(pattern_->matcher(text, status));
    if (U_FAILURE(status) || !m) return;
    m->setMatchCallback(countTick, &budget, status);
    m->setStackLimit(stackLimit_, status);
    if (regionEnd < 0 || regionEnd > text.length()) regionEnd = text.length();
    if (regionStart < 0) regionStart = 0;
    if (regionStart > regionEnd) return;
    if (regionStart != 0 || regionEnd != text.length()) {
        // Keep lookbehind and \b able to see the text just outside the region.
        m->useTransparentBounds(true);
        m->region(regionStart, regionEnd, status);
        if (U_FAILURE(status)) return;
    }
    while (m->find(status) && U_SUCCESS(status)) {
        if (!f(*m)) return;
    }
}

bool BudgetedRegex::firstMatch(const icu::UnicodeString& text, RegexBudget& budget,
                               const std::function<void(const icu::RegexMatcher&)>& f) const {
    bool found = false;
    forEachMatch(text, budget, [&](const icu::RegexMatcher& m) {
        found = true;
        f(m);
        return false;
    });
    return found;
}

icu::UnicodeString BudgetedRegex::toUnicode(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::string BudgetedRegex::toUTF8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::string BudgetedRegex::toUTF8(const icu::UnicodeString& s, int32_t start, int32_t end) {
    std::string out;
    if (end > start) icu::UnicodeString(s, start, end - start).toUTF8String(out);
    return out;
}

std::string BudgetedRegex::groupUTF8(const icu::RegexMatcher& m, int32_t g) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t s = m.start(g, status);
    const int32_t e = m.end(g, status);
    if (U_FAILURE(status) || s < 0) return {};
    return toUTF8(m.input(), s, e);
}

}  // namespace bx
