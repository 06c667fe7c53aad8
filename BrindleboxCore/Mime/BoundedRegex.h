#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "Util/BudgetedRegex.h"

namespace bx {

// A fixed ICU regular expression whose searches have bounded work. Each search
// gets its own work budget (in RegexBudget ticks; 0: none) and a
// backtracking-stack limit; a search that hits either counts as "no match", and a replace stops at that point, keeping
// the rest of the text as it is. Build instances once (function-local statics); a pattern that does not compile stops
// the program. Safe to share between threads: each search makes its own matcher.
class BoundedRegex {
public:
    // In ticks of about ten thousand matching steps (RegexBudget): generous for
    // any single search over real mail, small enough that a hostile one gives up.
    static constexpr int32_t defaultTimeLimit = 500;
    static constexpr int32_t defaultStackLimit = 8 << 20;  // bytes

    explicit BoundedRegex(std::string_view pattern, uint32_t flags = 0, int32_t timeLimit = defaultTimeLimit,
                          int32_t stackLimit = defaultStackLimit);

    // Replaces every match by what fn returns for it.
    icu::UnicodeString replaceAll(const icu::UnicodeString& text,
                                  const std::function<icu::UnicodeString(icu::RegexMatcher&)>& fn) const;
    // Replaces every match by a literal text (no "$1" references).
    icu::UnicodeString replaceAll(const icu::UnicodeString& text, const icu::UnicodeString& literal) const;
    // UTF-8 convenience forms.
    std::string replaceAll(std::string_view text, std::string_view literal) const;
    bool search(std::string_view text) const;

private:
    RegexBudget freshBudget() const;

    BudgetedRegex regex_;
    int32_t timeLimit_;
};

}  // namespace bx
