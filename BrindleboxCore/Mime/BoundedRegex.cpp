#include "Mime/BoundedRegex.h"

#include <cstdlib>
#include <cstdio>

namespace bx {

BoundedRegex::BoundedRegex(std::string_view pattern, uint32_t flags, int32_t timeLimit, int32_t stackLimit)
    : timeLimit_(timeLimit), stackLimit_(stackLimit) {
    UErrorCode err = U_ZERO_ERROR;
    UParseError pe;
    icu::UnicodeString p = icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    pattern_.reset(icu::RegexPattern::compile(p, flags, pe, err));
    if (U_FAILURE(err) || !pattern_) {
        std::fprintf(stderr, "fixed regular expression does not compile: %.*s (%s)\n",
                     static_cast<int>(pattern.size()), pattern.data(), u_errorName(err));
        std::abort();
    }
}

std::unique_ptr<icu::RegexMatcher> BoundedRegex::matcher(const icu::UnicodeString& text) const {
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(pattern_->matcher(text, err));
    if (U_FAILURE(err)) return nullptr;
    m->setTimeLimit(timeLimit_, err);
    m->setStackLimit(stackLimit_, err);
    return m;
}

icu::UnicodeString BoundedRegex::replaceAll(const icu::UnicodeString& text,
                                            const std::function<icu::UnicodeString(icu::RegexMatcher&)>& fn) const {
    auto m = matcher(text);
    if (!m) return text;
    icu::UnicodeString out;
    int32_t last = 0;
    for (;;) {
        UErrorCode err = U_ZERO_ERROR;
        if (!m->find(err) || U_FAILURE(err)) break;  // no match, or a limit was hit
        int32_t s = m->start(err), e = m->end(err);
        if (U_FAILURE(err)) break;
        out.append(text, last, s - last);
        out.append(fn(*m));
        last = e;
    }
    out.append(text, last, text.length() - last);
    return out;
}

icu::UnicodeString BoundedRegex::replaceAll(const icu::UnicodeString& text, const icu::UnicodeString& literal) const {
    return replaceAll(text, [&](icu::RegexMatcher&) { return literal; });
}

std::string BoundedRegex::replaceAll(std::string_view text, std::string_view literal) const {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString l = icu::UnicodeString::fromUTF8(icu::StringPiece(literal.data(), static_cast<int32_t>(literal.size())));
    std::string out;
    replaceAll(u, l).toUTF8String(out);
    return out;
}

bool BoundedRegex::search(std::string_view text) const {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    auto m = matcher(u);
    if (!m) return false;
    UErrorCode err = U_ZERO_ERROR;
    bool found = m->find(err);
    return found && U_SUCCESS(err);
}

} // namespace bx
