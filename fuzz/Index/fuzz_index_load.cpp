// The index loader reads a file anyone could have left in the vault: it must
// never crash, and whatever it accepts must hold together (every slot it can
// reach lies inside the records) and write back out as it was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Index/SearchIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto index = bx::SearchIndex::decode(text);
    if (!index) return 0;

    const auto& records = index->records();
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i] && records[i]->id != static_cast<int64_t>(i)) std::abort();
    for (const auto& [token, list] : index->postings())
        for (auto slot : list)
            if (slot >= records.size()) std::abort();

    (void)index->search("a");
    (void)index->search("re in");
    if (!records.empty() && records.front()) (void)index->search(records.front()->path);
    for (const auto& r : index->liveRecords()) (void)index->record(r.path);

    // What loads must save, and load again to the same thing.
    const std::string once = index->encode();
    auto again = bx::SearchIndex::decode(once);
    if (!again || again->encode() != once) std::abort();

    index->remove(records.empty() || !records.front() ? std::string("x") : records.front()->path);
    index->compact();
    (void)index->search("a");
    return 0;
}
