#pragma once
#include <string>
#include <string_view>

namespace bx {

struct PercentDecode {
    // "%" plus two hex digits becomes that byte; everything else is copied.
    static std::string bytes(std::string_view text);
};

}  // namespace bx
