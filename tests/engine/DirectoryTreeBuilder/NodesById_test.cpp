#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "engine/DirectoryTreeBuilder/NodesById.h"

namespace {

CFileNode* Fake(uintptr_t n) {
    return reinterpret_cast<CFileNode*>(n * 16);  // never dereferenced
}

}  // namespace

// IDs of the kinds scans hand over (small record numbers, cluster numbers, sector offsets, negative
// IDs, IDs that differ only in high bits, which an identity hash would put in one slot), many enough to
// make the table grow several times, checked against a std::map.
TEST(NodesById, FindsEveryIdAfterGrowingAndKeepsTheirFirstOrder) {
    std::vector<i64> ids;
    for (i64 i = 0; i < 3000; ++i) ids.push_back(i);
    for (i64 i = 0; i < 500; ++i) ids.push_back(i << 32);
    for (i64 i = 1; i < 500; ++i) ids.push_back(-i);
    for (i64 i = 0; i < 500; ++i) ids.push_back(i * 4096 + 7);
    ids.push_back(INT64_MIN);
    ids.push_back(INT64_MAX);
    std::mt19937_64 random(3);
    for (int i = 0; i < 2000; ++i) ids.push_back(static_cast<i64>(random()));

    CNodesById table;
    std::map<i64, std::vector<CFileNode*>> model;
    std::vector<i64> firstOrder;
    for (size_t k = 0; k < ids.size() * 2; ++k) {
        const i64 id = ids[(k * 7919) % ids.size()];  // every ID twice, in a mixed order
        if (!model.count(id)) firstOrder.push_back(id);
        table.Get(id).nodes.push_back(Fake(k + 1));
        model[id].push_back(Fake(k + 1));
    }
    ASSERT_EQ(table.size(), model.size());
    for (const auto& [id, nodes] : model) {
        const _PARENT_INFO* entry = table.Find(id);
        ASSERT_NE(entry, nullptr) << id;
        EXPECT_EQ(std::vector<CFileNode*>(entry->nodes.begin(), entry->nodes.end()), nodes) << id;
    }
    for (const i64 absent : {i64{3000}, i64{-500}, i64{500} << 32, i64{1} << 62}) {
        ASSERT_EQ(model.count(absent), 0u) << absent;
        EXPECT_EQ(table.Find(absent), nullptr) << absent;
    }
    std::vector<i64> walked;
    for (auto& [id, entry] : table) walked.push_back(id);
    EXPECT_EQ(walked, firstOrder);
}

// An ID whose nodes all left keeps its entry with an empty list (readers take it as none); the next
// node of that ID goes into the same entry.
TEST(NodesById, EmptiedEntriesStayAndAreReused) {
    CNodesById table;
    EXPECT_EQ(table.Find(5), nullptr);
    table.Get(5).nodes.push_back(Fake(1));
    table.Get(6).nodes.push_back(Fake(2));
    CNodeList& five = table.Find(5)->nodes;
    five.erase(five.begin(), five.end());
    ASSERT_NE(table.Find(5), nullptr);
    EXPECT_TRUE(table.Find(5)->nodes.empty());
    EXPECT_EQ(table.size(), 2u);
    table.Get(5).nodes.push_back(Fake(3));
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.Find(5)->nodes.front(), Fake(3));
    EXPECT_EQ(table.Find(6)->nodes.front(), Fake(2));
}

// The list of one ID against a vector: appends past the nodes held in place, erasures of every kind,
// moves (the table's growth moves its entries) and copies, the nodes always in order and contiguous.
TEST(NodesById, NodeListsBehaveAsVectors) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        CNodeList list;
        std::vector<CFileNode*> model;
        const int steps = 1 + round % 40;
        for (int step = 0; step < steps; ++step) {
            const unsigned op = random() % 10;
            if (op < 6 || model.empty()) {
                list.push_back(Fake(model.size() + 1 + step * 100));
                model.push_back(Fake(model.size() + 1 + step * 100));
            } else if (op < 8) {  // erase a range
                const size_t from = random() % model.size();
                const size_t to = from + random() % (model.size() - from + 1);
                const auto at = list.erase(list.begin() + from, list.begin() + to);
                model.erase(model.begin() + long(from), model.begin() + long(to));
                EXPECT_EQ(at - list.begin(), long(from));
            } else if (op < 9) {  // moved away and back
                CNodeList moved(std::move(list));
                EXPECT_TRUE(list.empty());
                list = std::move(moved);
            } else {  // copied, the copy changed alone
                CNodeList copy(list);
                copy.push_back(Fake(99999));
                EXPECT_EQ(copy.size(), model.size() + 1);
                EXPECT_EQ(copy.back(), Fake(99999));
                list = copy;
                list.erase(list.end() - 1, list.end());
            }
            ASSERT_EQ(std::vector<CFileNode*>(list.begin(), list.end()), model) << "round " << round;
            ASSERT_EQ(list.end() - list.begin(), long(list.size()));
        }
        if (!model.empty()) {
            EXPECT_EQ(list.front(), model.front());
            EXPECT_EQ(list[model.size() - 1], model.back());
        }
    }
    // Many nodes under one ID through the table, which moves its entries as it grows.
    CNodesById table;
    for (uintptr_t k = 0; k < 4000; ++k) table.Get(i64(k % 7 == 0 ? 7 : k)).nodes.push_back(Fake(k + 1));
    const CNodeList& seven = table.Find(7)->nodes;
    ASSERT_EQ(seven.size(), 572u);
    for (size_t i = 0; i < seven.size(); ++i) EXPECT_EQ(seven[i], Fake(i * 7 + 1));
}
