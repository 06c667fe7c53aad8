#pragma once
#include <functional>
#include <string>

namespace bx {

// A link whose visible text names another site than the one it opens.
struct LinkWarning {
    std::string shownText;    // the link's visible text, plain and trimmed
    std::string shownDomain;  // the domain named in that text, lower case
    std::string actualHost;   // the lower-cased host of the target
    std::string href;         // the target as written (entities decoded)

    bool operator==(const LinkWarning&) const = default;
};

}  // namespace bx

template <>
struct std::hash<bx::LinkWarning> {
    size_t operator()(const bx::LinkWarning& w) const noexcept {
        size_t h = 1469598103934665603ull;
        for (const auto* s : {&w.shownText, &w.shownDomain, &w.actualHost, &w.href})
            h = (h ^ std::hash<std::string>{}(*s)) * 1099511628211ull;
        return h;
    }
};
