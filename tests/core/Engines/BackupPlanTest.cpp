// The backup engine's batch plan.
#include <gtest/gtest.h>

#include "Engines/BackupRunner.h"
#include "support/TempDir.h"

using namespace bx;

namespace {

std::map<std::uint32_t, IMAPFetchItem> sizes(const std::vector<std::pair<std::uint32_t, std::optional<std::int64_t>>>& s) {
    std::map<std::uint32_t, IMAPFetchItem> meta;
    for (const auto& [uid, size] : s) {
        IMAPFetchItem item;
        item.uid = uid;
        item.size = size;
        meta[uid] = item;
    }
    return meta;
}

std::vector<size_t> batchSizes(const std::vector<std::vector<std::uint32_t>>& plan) {
    std::vector<size_t> out;
    for (const auto& b : plan) out.push_back(b.size());
    return out;
}

std::vector<std::uint32_t> range(std::uint32_t n) {
    std::vector<std::uint32_t> v;
    for (std::uint32_t i = 1; i <= n; ++i) v.push_back(i);
    return v;
}

}  // namespace

TEST(BackupPlan, BatchesAreBoundedByCountAndBytes) {
    std::vector<std::pair<std::uint32_t, std::optional<std::int64_t>>> small;
    for (std::uint32_t i = 1; i <= 41; ++i) small.push_back({i, 1000});
    EXPECT_EQ(batchSizes(BackupRunner::planBatches(range(41), sizes(small), 6000000, 40)),
              (std::vector<size_t>{40, 1}));

    EXPECT_EQ(batchSizes(BackupRunner::planBatches(range(3), sizes({{1, 3000000}, {2, 3000000}, {3, 3000000}}),
                                                   6000000, 40)),
              (std::vector<size_t>{2, 1}));  // exactly 6,000,000 still fits

    EXPECT_EQ(batchSizes(BackupRunner::planBatches(range(3), sizes({{1, 10}, {2, 10000000}, {3, 10}}), 6000000, 40)),
              (std::vector<size_t>{1, 1, 1}));  // an oversized message travels alone

    // Unknown sizes count 50,000: forty of them make one batch (2,000,000).
    EXPECT_EQ(batchSizes(BackupRunner::planBatches(range(40), {}, 6000000, 40)), (std::vector<size_t>{40}));
    std::vector<std::pair<std::uint32_t, std::optional<std::int64_t>>> unknown;
    for (std::uint32_t i = 1; i <= 3; ++i) unknown.push_back({i, std::nullopt});
    EXPECT_EQ(batchSizes(BackupRunner::planBatches(range(3), sizes(unknown), 100000, 40)),
              (std::vector<size_t>{2, 1}));

    EXPECT_TRUE(BackupRunner::planBatches({}, {}, 6000000, 40).empty());
    const auto plan = BackupRunner::planBatches({7, 3, 9}, {}, 6000000, 2);
    EXPECT_EQ(plan, (std::vector<std::vector<std::uint32_t>>{{7, 3}, {9}}));  // order kept
}
