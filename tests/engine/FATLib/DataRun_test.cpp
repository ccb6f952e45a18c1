// Data runs of live (chain) and deleted (consecutive) FAT files.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "engine/FATLib/FATBuildDataRun.h"
#include "engine/FATLib/FATTable.h"
#include "engine/Utility/IDataRunList.h"

namespace {

class MapTable : public IFATTable {
public:
    explicit MapTable(std::map<u32, u32> next) : m_next(std::move(next)) {}
    u32 GetNextCluster(u32 c) override {
        ++asked;
        auto it = m_next.find(c);
        return it == m_next.end() ? 0 : it->second;
    }
    int asked = 0;

private:
    std::map<u32, u32> m_next;
};

using Runs = std::vector<std::pair<i64, u64>>;

Runs ToVector(IDataRunList* list) {
    Runs out;
    if (list == nullptr) return out;
    for (DataRun* r = list->GetFirst(); r != nullptr; r = list->GetNext()) out.emplace_back(r->start, r->length);
    list->Release();
    return out;
}

constexpr u32 kEnd = 0x0FFFFFFF;
constexpr u64 kCluster = 512;  // one sector of 512 bytes a cluster

}  // namespace

TEST(FatDataRuns, LiveFiles) {
    struct Case {
        const char* what;
        std::map<u32, u32> table;
        u64 first;
        u64 size;
        Runs runs;
    } cases[] = {
        {"3 contiguous clusters, 2.5 clusters of data", {{10, 11}, {11, 12}, {12, kEnd}}, 10, 1280, {{8, 3}}},
        {"chain 10, 11, 20", {{10, 11}, {11, 20}, {20, kEnd}}, 10, 3 * kCluster, {{8, 2}, {18, 1}}},
        {"size 0, end at once", {{10, kEnd}}, 10, 0, {{8, 0}}},
        // A chain that ends, or loops, before its size is covered keeps its own clusters only: the rest
        // has no place (an unreadable range of zeros), never the clusters that follow its last one.
        {"free entry ends the chain", {{10, 0}}, 10, 2 * kCluster, {{8, 1}}},
        {"end mark before the size", {{10, 11}, {11, kEnd}}, 10, 4 * kCluster, {{8, 2}}},
        {"bad-cluster mark before the size", {{10, 0x0FFFFFF7}}, 10, 2 * kCluster, {{8, 1}}},
        {"a loop back to the first cluster", {{10, 11}, {11, 20}, {20, 10}}, 10, 5 * kCluster, {{8, 2}, {18, 1}}},
        {"a cluster pointing to itself", {{10, 10}}, 10, 3 * kCluster, {{8, 1}}},
        {"a loop into the middle of a run", {{10, 11}, {11, 12}, {12, 30}, {30, 11}}, 10, 10 * kCluster,
         {{8, 3}, {28, 1}}},
        {"a step to the next cluster that meets an earlier run", {{20, 21}, {21, 18}, {18, 19}, {19, 20}}, 20,
         10 * kCluster, {{18, 2}, {16, 2}}},
        {"a chain longer than the size stops at the size", {{10, 11}, {11, 12}, {12, kEnd}}, 10, 1 * kCluster, {{8, 1}}},
    };
    for (const auto& c : cases) {
        MapTable table(c.table);
        CFATBuildDataRun builder(&table, 512, 1, 1000);
        EXPECT_EQ(ToVector(builder.BuildDataRunList(c.first, c.size, false)), c.runs) << c.what;
    }
}

TEST(FatDataRuns, LiveFileReachingPastTheVolumeGetsNoList) {
    MapTable table({{10, 11}, {11, 30}, {30, kEnd}});
    CFATBuildDataRun builder(&table, 512, 1, 20);
    EXPECT_EQ(builder.BuildDataRunList(10, 3 * kCluster, false), nullptr);
    // A size past the volume over a chain inside it: the chain's clusters (the rest is unreadable).
    MapTable inside({{10, kEnd}});
    CFATBuildDataRun short_(&inside, 512, 1, 20);
    EXPECT_EQ(ToVector(short_.BuildDataRunList(10, 20 * kCluster, false)), (Runs{{8, 1}}));
    CFATBuildDataRun noTable(nullptr, 512, 1, 20);
    EXPECT_EQ(noTable.BuildDataRunList(10, 1, false), nullptr);
}

TEST(FatDataRuns, CyclicChainEnds) {
    MapTable table({{10, 11}, {11, 20}, {20, 10}});  // 10 -> 11 -> 20 -> 10
    CFATBuildDataRun builder(&table, 512, 1, 100);
    IDataRunList* list = builder.BuildDataRunList(10, 1000 * kCluster, false);
    // Whatever it builds stays inside the volume, and the walk ends.
    for (const auto& [start, length] : ToVector(list)) EXPECT_LE(static_cast<u64>(start) + length, 100u);
    EXPECT_LT(table.asked, 200);
}

TEST(FatDataRuns, DeletedFiles) {
    MapTable table({});
    CFATBuildDataRun builder(&table, 512, 1, 100);
    // First cluster 7, two clusters of data, entry 7 free: clusters 7 and 8 (runs 5 and 6, merged).
    EXPECT_EQ(ToVector(builder.BuildDataRunList(7, 2 * kCluster, true)), (Runs{{5, 2}}));
    EXPECT_EQ(builder.BuildDataRunList(1, kCluster, true), nullptr);
    // Stops at the volume's end.
    EXPECT_EQ(ToVector(builder.BuildDataRunList(98, 10 * kCluster, true)), (Runs{{96, 4}}));
    // A bad-cluster mark in the table is skipped.
    MapTable bad({{7, 0x0FFFFFF7}, {0x0FFFFFF7, 9}});
    IDataRunList* list = CreateDataRunList();
    CFATBuildDataRun::BuildDeleteFileDataRunList(list, 7, 2 * kCluster, &bad, 1, 0x20000000, 512);
    EXPECT_EQ(ToVector(list), (Runs{{5, 1}, {7, 1}}));
    // Past its first cluster a deleted file passes over the clusters the table gives to live files.
    MapTable live({{8, 9}, {9, kEnd}, {11, kEnd}});
    CFATBuildDataRun around(&live, 512, 1, 100);
    EXPECT_EQ(ToVector(around.BuildDataRunList(7, 3 * kCluster, true)), (Runs{{5, 1}, {8, 1}, {10, 1}}));
    // Every cluster after it taken: the list ends at the volume's end.
    MapTable full({{8, 9}, {9, kEnd}});
    CFATBuildDataRun ends(&full, 512, 1, 8);
    EXPECT_EQ(ToVector(ends.BuildDataRunList(7, 3 * kCluster, true)), (Runs{{5, 1}}));
}

TEST(FatDataRuns, ClusterBitsMarkLiveRuns) {
    MapTable table({{3, 4}, {4, kEnd}});
    std::vector<bool> bits(10, false);
    CFATBuildDataRun builder(&table, 512, 1, 100, &bits);
    ToVector(builder.BuildDataRunList(3, 2 * kCluster, false));
    EXPECT_EQ(bits, (std::vector<bool>{false, true, true, false, false, false, false, false, false, false}));
}
