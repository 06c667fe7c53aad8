#include "Util/LargePages.h"

#include <cstdint>

#include <sys/mman.h>

namespace bx::LargePages {

void* map(size_t bytes) {
    void* m = ::mmap(nullptr, bytes + size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    const auto raw = reinterpret_cast<uintptr_t>(m);
    const uintptr_t aligned = (raw + size - 1) & ~(size - 1);
    if (aligned > raw) ::munmap(m, aligned - raw);
    ::munmap(reinterpret_cast<void*>(aligned + bytes), raw + size - aligned);
    ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void unmap(void* p, size_t bytes) {
    if (p) ::munmap(p, bytes);
}

void advise(void* data, size_t bytes) {
    const auto begin = (reinterpret_cast<uintptr_t>(data) + size - 1) & ~(size - 1);
    const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(size - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace bx::LargePages
