#pragma once
// Fresh memory written front to back once, tens of megabytes of it: in large
// pages that is a fault every 2 MB instead of every 4 KB, and on a virtual
// machine a fault costs microseconds.
#include <cstddef>

namespace bx::LargePages {

constexpr size_t size = size_t(2) << 20;

// `bytes` (whole pages) of zeroed writable memory aligned to a
// large page and advised to use them; null when the system refuses. Give it
// back with unmap.
void* map(size_t bytes);
void unmap(void* p, size_t bytes);

// Advises the whole large pages inside [data, data + bytes); the rest stays
// as it is.
void advise(void* data, size_t bytes);

}  // namespace bx::LargePages
