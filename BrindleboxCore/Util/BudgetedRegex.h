#pragma once
// ICU regular expressions for text that comes from strangers (mail bodies,
// header values). The pattern is compiled once and shared; every scan runs
// with a work budget, so that a pattern that backtracks badly on hostile input
// stops early instead of hanging the reader or the indexer. Running out of
// budget means "no further match".
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

namespace bx {

// Work allowed for one top-level operation, shared by every scan it makes.
// One tick is about ten thousand steps of the ICU match engine; an ordinary
// megabyte of HTML costs a handful.
struct RegexBudget {
    static constexpr int32_t defaultTicks = 3000;
    int32_t ticksLeft = defaultTicks;
    bool exhausted() const { return ticksLeft <= 0; }
};

class BudgetedRegex {
public:
    static constexpr int32_t defaultStackLimit = 8 << 20;  // bytes of backtracking stack; 0: no limit

    // A pattern that does not compile is a programming error: the process stops.
    BudgetedRegex(std::string_view pattern, uint32_t flags, int32_t stackLimit = defaultStackLimit);
    ~BudgetedRegex();
    BudgetedRegex(const BudgetedRegex&) = delete;
    BudgetedRegex& operator=(const BudgetedRegex&) = delete;
    BudgetedRegex(BudgetedRegex&&) noexcept;
    BudgetedRegex& operator=(BudgetedRegex&&) noexcept;

    // Calls f(matcher) for every non-overlapping match in [regionStart, regionEnd)
    // of text, in order, until f returns false, no match is left or the budget
    // runs out (or the backtracking stack would outgrow its limit). regionEnd < 0
    // means the end of the text.
    void forEachMatch(const icu::UnicodeString& text, RegexBudget& budget,
                      const std::function<bool(const icu::RegexMatcher&)>& f, int32_t regionStart = 0,
                      int32_t regionEnd = -1) const;

    // The first match, or false.
    bool firstMatch(const icu::UnicodeString& text, RegexBudget& budget,
                    const std::function<void(const icu::RegexMatcher&)>& f) const;

    // Conversions between the UTF-8 strings the core passes around and ICU's UTF-16.
    static icu::UnicodeString toUnicode(std::string_view utf8);
    static std::string toUTF8(const icu::UnicodeString& s);
    static std::string toUTF8(const icu::UnicodeString& s, int32_t start, int32_t end);
    // Group g of the matcher's current match as UTF-8 ("" when it did not take part).
    static std::string groupUTF8(const icu::RegexMatcher& m, int32_t g);

private:
    std::unique_ptr<icu::RegexPattern> pattern_;
    int32_t stackLimit_;
};

}  // namespace bx
