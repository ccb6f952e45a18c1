// The search's own containers: the key table against std::unordered_map over many keys (growth,
// collisions of keys that differ only above bit 32), node names on both sides of the inline size
// (zeros inside, copies, reassignment), and extents inserted out of order.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/APFS/APFSFileNode.h"
#include "engine/APFS/APFSKeyTable.h"

namespace {

TEST(ApfsKeyTable, AgreesWithAHashMapOverManyKeys) {
    APFSKeyTable<u64> table;
    std::unordered_map<u64, u64> expected;
    std::mt19937_64 random(19);
    std::vector<u64> keys;
    for (u64 i = 0; i < 3000; ++i) {
        keys.push_back(i);                       // dense low keys
        keys.push_back((i % 7) << 32 | i);       // container index in the high half
        keys.push_back(random());                // anywhere
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        table.Get(keys[i]) += i + 1;
        expected[keys[i]] += i + 1;
        // Every key added so far is still found after the growths.
        if (i % 997 == 0) {
            for (size_t j = 0; j <= i; ++j) {
                const u64* found = table.Find(keys[j]);
                ASSERT_NE(found, nullptr) << keys[j];
                EXPECT_EQ(*found, expected[keys[j]]);
            }
        }
    }
    EXPECT_EQ(table.size(), expected.size());
    for (const auto& [key, value] : expected) {
        const u64* found = table.Find(key);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, value);
    }
    for (u64 absent : {u64{3000}, u64{7} << 32, ~u64{0}}) EXPECT_EQ(table.Find(absent), nullptr) << absent;
    EXPECT_EQ(APFSKeyTable<int>().Find(0), nullptr);
}

TEST(ApfsKeyTable, ReservedRoomKeepsEveryEntryInPlace) {
    APFSKeyTable<u64> table;
    table.Reserve(5000);
    const u64* first = &table.Get(1);
    for (u64 key = 2; key <= 5000; ++key) table.Get(key << 32) = key;
    EXPECT_EQ(&table.Get(1), first);
    EXPECT_EQ(*table.Find(u64{5000} << 32), 5000u);
}

TEST(ApfsNodeName, KeepsEveryByteOnBothSidesOfTheInlineSize) {
    for (size_t length : {size_t{0}, size_t{1}, APFSNodeName::kInline - 1, APFSNodeName::kInline,
                          APFSNodeName::kInline + 1, size_t{300}}) {
        std::string bytes;
        for (size_t i = 0; i < length; ++i) bytes += static_cast<char>(i % 5 == 2 ? 0 : 'a' + i % 26);
        APFSNodeName name;
        name.assign("a longer earlier name that does not fit inside the node at all");
        name.assign(bytes);
        EXPECT_EQ(name.view(), bytes) << length;
        EXPECT_EQ(name.size(), length);
        EXPECT_EQ(name.c_str()[length], '\0');
        const APFSNodeName copy(name);
        APFSNodeName assigned;
        assigned = name;
        name.assign("x");
        EXPECT_EQ(copy.view(), bytes);
        EXPECT_EQ(assigned.view(), bytes);
        EXPECT_TRUE(copy == assigned);
        EXPECT_EQ(name.view(), "x");
    }
}

TEST(ApfsFileNodeExtents, StayInLogicalOrderWhateverTheOrderTheyCome) {
    APFSFileNode node;
    // Offsets out of order; a repeated offset with the same start grows that extent only.
    node.AddExtent(100, 8, 512, 8192);
    node.AddExtent(50, 8, 512, 0);
    node.AddExtent(300, 8, 512, 4096 * 4);
    node.AddExtent(200, 8, 512, 4096);
    node.AddExtent(200, 16, 512, 4096);
    node.AddExtent(999, 99, 512, 4096);
    std::vector<std::string> got;
    for (const auto& [offset, run] : node.GetExtents())
        got.push_back(std::to_string(offset) + ":" + std::to_string(run.start) + "+" + std::to_string(run.length));
    EXPECT_EQ(got, (std::vector<std::string>{"0:50+8", "4096:200+16", "8192:100+8", "16384:300+8"}));
    // A second extent at offset 0: the file starts again.
    node.AddExtent(70, 8, 512, 0);
    ASSERT_EQ(node.GetExtents().size(), 1u);
    EXPECT_EQ(node.GetExtents().begin()->second.start, 70);
}

}  // namespace
