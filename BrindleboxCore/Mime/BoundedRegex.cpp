#include "Mime/BoundedRegex.h"

#include <limits>

namespace bx {

BoundedRegex::BoundedRegex(std::string_view pattern, uint32_t flags, int32_t timeLimit, int32_t stackLimit)
    : regex_(pattern, flags, stackLimit), timeLimit_(timeLimit) {}

RegexBudget BoundedRegex::freshBudget() const {
    RegexBudget budget;
    budget.ticksLeft = timeLimit_ > 0 ? timeLimit_ : std::numeric_limits<int32_t>::max();
    return budget;
}

icu::UnicodeString BoundedRegex::replaceAll(const icu::UnicodeString& text,
                                            const std::function<icu::UnicodeString(icu::RegexMatcher&)>& fn) const {
    RegexBudget budget = freshBudget();
    icu::UnicodeString out;
    int32_t last = 0;
    // A limit hit ends the matches there; the rest of the text stays as it is.
    regex_.forEachMatch(text, budget, [&](const icu::RegexMatcher& cm) {
        auto& m = const_cast<icu::RegexMatcher&>(cm);
        UErrorCode err = U_ZERO_ERROR;
        const int32_t s = m.start(err), e = m.end(err);
        if (U_FAILURE(err)) return false;
        out.append(text, last, s - last);
        out.append(fn(m));
        last = e;
        return true;
    });
    out.append(text, last, text.length() - last);
    return out;
}

icu::UnicodeString BoundedRegex::replaceAll(const icu::UnicodeString& text, const icu::UnicodeString& literal) const {
    return replaceAll(text, [&](icu::RegexMatcher&) { return literal; });
}

std::string BoundedRegex::replaceAll(std::string_view text, std::string_view literal) const {
    return BudgetedRegex::toUTF8(replaceAll(BudgetedRegex::toUnicode(text), BudgetedRegex::toUnicode(literal)));
}

bool BoundedRegex::search(std::string_view text) const {
    RegexBudget budget = freshBudget();
    return regex_.firstMatch(BudgetedRegex::toUnicode(text), budget, [](const icu::RegexMatcher&) {});
}

}  // namespace bx
