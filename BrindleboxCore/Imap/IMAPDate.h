#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace bx {

// INTERNALDATE texts ("7-Mar-2024 09:15:02 +0100") and SEARCH day texts.
struct IMAPDate {
    // Trims spaces and tabs at both ends; absent when the text does not match.
    static std::optional<std::chrono::system_clock::time_point> parse(std::string_view text);
    // "7-Mar-2024", in the machine's time zone.
    static std::string searchString(std::chrono::system_clock::time_point date);
};

}  // namespace bx
