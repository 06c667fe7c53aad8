#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bx {

struct UIDSet {
    // A compact sequence set such as "3:5,9:10,12"; duplicates removed,
    // sorted. The empty list gives the empty text.
    static std::string string(std::vector<std::uint32_t> uids);
};

}  // namespace bx
