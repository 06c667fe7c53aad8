#include "Mime/MimeText.h"

#include "Util/Unicode.h"

#include <cstdint>

namespace bx::mimetext {

std::string_view trimChars(std::string_view s, std::string_view set) {
    std::size_t b = 0, e = s.size();
    while (b < e && set.find(s[b]) != std::string_view::npos) ++b;
    while (e > b && set.find(s[e - 1]) != std::string_view::npos) --e;
    return s.substr(b, e - b);
}

bool isQuotedString(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
    // ASCII neighbours can neither extend the first quote nor be prepended to
    // the last one.
    if (static_cast<unsigned char>(s[1]) < 0x80 && static_cast<unsigned char>(s[s.size() - 2]) < 0x80) return true;
    if (s.size() > static_cast<std::size_t>(INT32_MAX)) return true;
    detail::CharacterBreaks breaks(s);
    const std::int64_t firstEnd = breaks.following(0);
    const std::int64_t lastStart = breaks.preceding(static_cast<std::int64_t>(s.size()));
    return firstEnd == 1 && lastStart == static_cast<std::int64_t>(s.size()) - 1 && lastStart >= firstEnd;
}

}  // namespace bx::mimetext
