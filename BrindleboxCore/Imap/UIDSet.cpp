#include "Imap/UIDSet.h"

#include <algorithm>

namespace bx {

std::string UIDSet::string(std::vector<std::uint32_t> uids) {
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    std::string out;
    std::size_t i = 0;
    while (i < uids.size()) {
        std::size_t j = i;
        // Compared as 64-bit so the run test cannot wrap at 4294967295.
        while (j + 1 < uids.size() && std::uint64_t(uids[j + 1]) == std::uint64_t(uids[j]) + 1) ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(uids[i]);
        if (j > i) {
            out += ':';
            out += std::to_string(uids[j]);
        }
        i = j + 1;
    }
    return out;
}

}  // namespace bx
