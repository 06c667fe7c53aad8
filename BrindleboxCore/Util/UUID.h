#pragma once
// Account and item identifiers. Written upper case ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
// read in either case.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace bx {

struct UUID {
    std::array<std::uint8_t, 16> bytes{};

    static UUID random();  // version 4
    static std::optional<UUID> parse(std::string_view text);
    std::string string() const;

    friend bool operator==(const UUID&, const UUID&) = default;
    friend auto operator<=>(const UUID&, const UUID&) = default;
};

}  // namespace bx

template <>
struct std::hash<bx::UUID> {
    size_t operator()(const bx::UUID& u) const noexcept {
        size_t h = 1469598103934665603ull;
        for (auto b : u.bytes) h = (h ^ b) * 1099511628211ull;
        return h;
    }
};
