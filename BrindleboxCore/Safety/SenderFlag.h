#pragma once
// A warning about the sender's address: which test raised it, a line for a
// list or badge, and a sentence or two for the reader's card.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace bx {

struct SenderFlag {
    enum class Kind { displayName, lookalike, punycode };

    Kind kind = Kind::displayName;
    std::string summary;
    std::string detail;

    static std::string_view rawValue(Kind k) {
        switch (k) {
            case Kind::displayName: return "displayName";
            case Kind::lookalike: return "lookalike";
            case Kind::punycode: return "punycode";
        }
        return "displayName";
    }
    static std::optional<Kind> kindFromRawValue(std::string_view raw) {
        if (raw == "displayName") return Kind::displayName;
        if (raw == "lookalike") return Kind::lookalike;
        if (raw == "punycode") return Kind::punycode;
        return std::nullopt;
    }

    bool operator==(const SenderFlag&) const = default;
};

}  // namespace bx

template <>
struct std::hash<bx::SenderFlag> {
    size_t operator()(const bx::SenderFlag& f) const noexcept {
        size_t h = std::hash<int>{}(static_cast<int>(f.kind));
        for (const auto* s : {&f.summary, &f.detail}) h = h * 1099511628211ull ^ std::hash<std::string>{}(*s);
        return h;
    }
};
