#pragma once

#include <cstdint>
#include <optional>

namespace bx {

// The outcome of SELECT or EXAMINE.
struct SelectInfo {
    std::uint32_t uidValidity = 0;  // 0: the server reported none
    std::int64_t exists = 0;
    std::optional<std::uint32_t> uidNext;
    bool readOnly = true;

    friend bool operator==(const SelectInfo&, const SelectInfo&) = default;
};

}  // namespace bx
