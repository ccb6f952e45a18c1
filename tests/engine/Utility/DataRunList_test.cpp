#include <gtest/gtest.h>

#include <vector>

#include "engine/Utility/DataRunList.h"

namespace {

std::vector<std::pair<i64, u64>> Runs(IDataRunList& list) {
    std::vector<std::pair<i64, u64>> out;
    for (DataRun* r = list.GetFirst(); r; r = list.GetNext()) out.emplace_back(r->start, r->length);
    return out;
}

}  // namespace

TEST(DataRunList, AppendMergesContiguousRuns) {
    struct Case {
        const char* what;
        std::vector<DataRun> in;
        std::vector<std::pair<i64, u64>> out;
    } cases[] = {
        {"contiguous", {{92, 8}, {100, 8}}, {{92, 16}}},
        {"gap", {{92, 8}, {101, 8}}, {{92, 8}, {101, 8}}},
        {"after sparse", {{-1, 8}, {7, 8}}, {{-1, 8}, {7, 8}}},
        {"sparse after", {{0, 8}, {-1, 8}}, {{0, 8}, {-1, 8}}},
        {"three", {{0, 1}, {1, 1}, {2, 1}}, {{0, 3}}},
        {"merged after the second", {{0, 1}, {5, 1}, {6, 1}, {9, 2}, {11, 1}}, {{0, 1}, {5, 2}, {9, 3}}},
        {"one after a merged pair", {{4, 1}, {5, 1}, {-1, 3}}, {{4, 2}, {-1, 3}}},
        {"overflowing end",
         {{0x7FFFFFFFFFFFFFF0, 0xFFFFFFFFFFFFFFFF}, {0, 1}},
         {{0x7FFFFFFFFFFFFFF0, 0xFFFFFFFFFFFFFFFF}, {0, 1}}},
    };
    for (const auto& c : cases) {
        CDataRunList list;
        for (const auto& r : c.in) list.AddDataRun(r);
        EXPECT_EQ(Runs(list), c.out) << c.what;
    }
}

TEST(DataRunList, CursorAndDefaults) {
    IDataRunList* list = CreateDataRunList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->IsDone(), 1);
    EXPECT_EQ(list->GetFirst(), nullptr);
    EXPECT_EQ(list->GetNext(), nullptr);
    EXPECT_EQ(list->GetDataRunListType(), 5u);
    EXPECT_EQ(list->GetOffset(), 0);
    EXPECT_EQ(list->IsResident(), 0u);
    list->AddDataRun(nullptr);
    list->AddDataRun(DataRun{5, 1});
    list->AddDataRun(DataRun{9, 1});
    EXPECT_EQ(list->IsDone(), 1);  // a new list's cursor is at the end
    EXPECT_EQ(list->GetFirst()->start, 5);
    EXPECT_EQ(list->IsDone(), 0);
    EXPECT_EQ(list->GetNext()->start, 9);
    EXPECT_EQ(list->GetNext(), nullptr);
    EXPECT_EQ(list->IsDone(), 1);
    list->Release();
}

TEST(DataRunList, CloneIsDeepAndMerged) {
    CDataRunList list;
    list.AddDataRun(DataRun{1, 2});
    list.AddDataRun(DataRun{-1, 2});
    list.AddDataRun(DataRun{50, 2});
    IDataRunList* copy = list.Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Runs(*copy), Runs(list));
    copy->GetFirst()->length = 99;
    EXPECT_EQ(list.GetFirst()->length, 2u);
    copy->Release();
}

// Long lists (the runs move from their first place into a growing array): every run kept in order,
// walked by the cursor and deep-copied by Clone.
TEST(DataRunList, LongListsKeepEveryRun) {
    for (const size_t count : {size_t{1}, size_t{2}, size_t{3}, size_t{17}, size_t{5000}}) {
        CDataRunList list;
        std::vector<std::pair<i64, u64>> expected;
        for (size_t i = 0; i < count; ++i) {
            const DataRun run{i % 3 == 2 ? -1 : static_cast<i64>(i * 10000), i + 1};  // never contiguous
            list.AddDataRun(run);
            expected.emplace_back(run.start, run.length);
        }
        EXPECT_EQ(list.GetRunCount(), count);
        EXPECT_EQ(Runs(list), expected) << count;
        IDataRunList* copy = list.Clone();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(Runs(*copy), expected) << count;
        copy->Release();
    }
}
