#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <unicode/regex.h>
#include <unicode/unistr.h>

namespace bx {

// A fixed ICU regular expression whose searches have bounded work. Each search
// runs with a time limit and a backtracking-stack limit; a search that hits
// either counts as "no match", and a replace stops at that point, keeping the
// rest of the text as it is. Build instances once (function-local statics); a
// pattern that does not compile stops the program. Safe to share between
// threads: each search makes its own matcher.
class BoundedRegex {
public:
    // ICU's unit is roughly a few million matching steps; generous for any
    // single search over real mail, small enough that a hostile one gives up.
    static constexpr int32_t defaultTimeLimit = 500;
    static constexpr int32_t defaultStackLimit = 8 << 20;  // bytes

    explicit BoundedRegex(std::string_view pattern, uint32_t flags = 0,
                          int32_t timeLimit = defaultTimeLimit, int32_t stackLimit = defaultStackLimit);

    // Replaces every match by what fn returns for it.
    icu::UnicodeString replaceAll(const icu::UnicodeString& text,
                                  const std::function<icu::UnicodeString(icu::RegexMatcher&)>& fn) const;
    // Replaces every match by a literal text (no "$1" references).
    icu::UnicodeString replaceAll(const icu::UnicodeString& text, const icu::UnicodeString& literal) const;
    // UTF-8 convenience forms.
    std::string replaceAll(std::string_view text, std::string_view literal) const;
    bool search(std::string_view text) const;

    const icu::RegexPattern& pattern() const { return *pattern_; }

private:
    std::unique_ptr<icu::RegexMatcher> matcher(const icu::UnicodeString& text) const;

    std::unique_ptr<icu::RegexPattern> pattern_;
    int32_t timeLimit_;
    int32_t stackLimit_;
};

} // namespace bx
