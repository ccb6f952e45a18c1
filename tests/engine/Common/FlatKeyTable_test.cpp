#include "engine/Common/FlatKeyTable.h"

#include <gtest/gtest.h>

namespace {

// A caller that asks for room for one more key before every new key must not move the whole table
// each time: that made a search of many files quadratic.
TEST(FlatKeyTable, ReservingOneMoreKeyEachTimeMovesTheEntriesRarely) {
    FlatKeyTable<u64, u64> table;
    int moves = 0;
    const u64* first = nullptr;
    for (u64 key = 1; key <= 100000; ++key) {
        table.Reserve(table.size() + 1);
        table.Get(key * 7919) = key;
        const u64* now = table.Find(7919);
        if (now != first) ++moves;
        first = now;
    }
    EXPECT_LE(moves, 40);
    for (u64 key = 1; key <= 100000; key += 997) {
        const u64* value = table.Find(key * 7919);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(*value, key);
    }
    EXPECT_EQ(table.Find(5), nullptr);
}

// What Reserve promises: Gets up to the reserved count keep every reference.
TEST(FlatKeyTable, ReservedRoomKeepsReferences) {
    FlatKeyTable<u64, int> table;
    table.Reserve(1000);
    int& kept = table.Get(42);
    kept = 5;
    for (u64 key = 100; key < 1099; ++key) table.Get(key) = 1;
    EXPECT_EQ(&kept, table.Find(42));
    EXPECT_EQ(*table.Find(42), 5);
    EXPECT_EQ(table.size(), 1000u);
}

}  // namespace
