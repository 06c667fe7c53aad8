#pragma once
// Cuts a list into consecutive runs of at most n elements, in order: run k
// holds the elements k*n ..< min((k+1)*n, count). UID lists go to the server
// in runs like these.
#include <algorithm>
#include <cstddef>
#include <vector>

namespace bx {

template <class T>
std::vector<std::vector<T>> chunked(const std::vector<T>& items, std::size_t n) {
    std::vector<std::vector<T>> runs;
    if (n == 0) n = 1;
    runs.reserve((items.size() + n - 1) / n);
    for (std::size_t start = 0; start < items.size(); start += n) {
        const std::size_t end = std::min(items.size(), start + n);
        runs.emplace_back(items.begin() + static_cast<std::ptrdiff_t>(start),
                          items.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return runs;
}

}  // namespace bx
