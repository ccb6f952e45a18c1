// The type and date trees read only what the scan filed since their last refresh: the maps' tails
// past the managers' resume indexes, never the whole maps.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ResultTreeTestSupport.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"

using result_tree_test::ChildNamed;
using result_tree_test::ChildTexts;
using testsupport::FakeFileRow;
using testsupport::FakeFileTime;
using testsupport::FakeFileTree;

namespace {

IFileNode* P(int n) {
    return reinterpret_cast<IFileNode*>(static_cast<uintptr_t>(0x1000 + 16 * n));
}

std::vector<IFileNode*> Nodes(int first, int count) {
    std::vector<IFileNode*> out;
    for (int i = 0; i < count; ++i) out.push_back(P(first + i));
    return out;
}

TEST(MapTails, EachListFromTheReadersIndexAndNothingForAListReadToItsEnd) {
    const IUIController::TypeMap types = {{1, Nodes(0, 3)}, {2, Nodes(10, 2)}, {4, Nodes(20, 1)}, {64, Nodes(30, 4)}};
    struct Case {
        IUIController::TypeResume from;
        IUIController::TypeMap tails;
    };
    const std::vector<Case> cases = {
        {{}, types},  // a reader that has read nothing gets everything
        {{{1, 1}, {2, 2}, {4, 0}, {64, 9}}, {{1, Nodes(1, 2)}, {4, Nodes(20, 1)}}},
        {{{1, 2}, {8, 5}}, {{1, Nodes(2, 1)}, {2, Nodes(10, 2)}, {4, Nodes(20, 1)}, {64, Nodes(30, 4)}}},
        {{{1, 3}, {2, 2}, {4, 1}, {64, 4}}, {}},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(IUIController::TypeTails(types, cases[i].from), cases[i].tails) << "case " << i;

    const IUIController::TimeMap times = {{2009, {{3, Nodes(0, 2)}, {11, Nodes(5, 3)}}}, {2012, {{1, Nodes(9, 1)}}}};
    EXPECT_EQ(IUIController::TimeTails(times, {}), times);
    EXPECT_EQ(IUIController::TimeTails(times, {{{2009, 3}, 2}, {{2009, 11}, 1}, {{2012, 2}, 7}}),
              (IUIController::TimeMap{{2009, {{11, Nodes(6, 2)}}}, {2012, {{1, Nodes(9, 1)}}}}));
    EXPECT_EQ(IUIController::TimeTails(times, {{{2009, 3}, 2}, {{2009, 11}, 3}, {{2012, 1}, 1}}),
              IUIController::TimeMap{});
}

// A controller that counts what the managers copy out of its maps and refuses whole copies.
class TailCounting : public testsupport::FakeUIController {
public:
    TypeMap GetTypeMap() override {
        ADD_FAILURE() << "the type tree copied the whole type map";
        return FakeUIController::GetTypeMap();
    }
    TimeMap GetCreateTimeMap() override {
        ADD_FAILURE() << "a date tree copied the whole creation map";
        return FakeUIController::GetCreateTimeMap();
    }
    TimeMap GetModifyTimeMap() override {
        ADD_FAILURE() << "a date tree copied the whole modification map";
        return FakeUIController::GetModifyTimeMap();
    }
    TypeMap GetTypeMapFrom(const TypeResume& from) override {
        const TypeMap tails = TypeTails(FakeUIController::GetTypeMap(), from);
        for (const auto& entry : tails) typeCopied += entry.second.size();
        return tails;
    }
    TimeMap GetCreateTimeMapFrom(const TimeResume& from) override {
        return Count(TimeTails(FakeUIController::GetCreateTimeMap(), from), &createCopied);
    }
    TimeMap GetModifyTimeMapFrom(const TimeResume& from) override {
        return Count(TimeTails(FakeUIController::GetModifyTimeMap(), from), &modifyCopied);
    }

    size_t typeCopied = 0, createCopied = 0, modifyCopied = 0;

private:
    static TimeMap Count(TimeMap tails, size_t* copied) {
        for (const auto& year : tails)
            for (const auto& month : year.second) *copied += month.second.size();
        return tails;
    }
};

TEST(Incremental, RefreshesCopyOnlyWhatIsNewAndPlaceEveryFileOnce) {
    TailCounting ui;
    testsupport::ScopedUIController installed{&ui};
    std::vector<FakeFileRow> rows;
    for (int i = 0; i < 300; ++i) {
        // Three extensions, two years and four months apart for creation and modification.
        const i64 when = 1262347200 + i64(i % 4) * 31 * 86400 + i64((i / 4) % 2) * 366 * 86400;  // 2010-01-01 12:00 on
        rows.push_back({"f" + std::to_string(i) + (i % 3 == 0 ? ".jpg" : i % 3 == 1 ? ".doc" : ".xyz"), 1,
                        FakeFileTime(when), FakeFileTime(when + 40 * 86400), 0});
    }
    FakeFileTree files("Card", SEARCHER_FAT, rows);
    KXTypeMgr types{&ui, nullptr, brelvox::foundation::FileTypeCatalogue({{"1", {"doc"}}, {"2", {"jpg"}}})};
    KXTimeMgr dates{&ui};
    auto created = OpNodeData::NewGroup(2, "Created", 1);
    auto modified = OpNodeData::NewGroup(3, "Modified", 1);
    const auto all = files.Files();
    auto refresh = [&] {
        ui.typeCopied = ui.createCopied = ui.modifyCopied = 0;
        types.refreshTypeTree();
        dates.refreshTimeTree(created, 2);
        dates.refreshTimeTree(modified, 3);
    };
    auto find = [&](size_t first, size_t count) {
        for (size_t i = first; i < first + count; ++i) ui.FileFound(all[i], i % 3 == 0 ? 2 : i % 3 == 1 ? 1 : 64);
    };

    struct Step {
        size_t found;          // files the scan files before the refresh
        size_t typeCopied;     // the new ones, and the last one of each list looked at again
        size_t dateCopied;     // the new ones
    };
    // 3 categories: each list's last node is looked at again on the next refresh.
    const std::vector<Step> steps = {{200, 200, 200}, {0, 3, 0}, {90, 93, 90}, {10, 13, 10}, {0, 3, 0}};
    size_t filed = 0;
    for (size_t s = 0; s < steps.size(); ++s) {
        find(filed, steps[s].found);
        filed += steps[s].found;
        refresh();
        EXPECT_EQ(ui.typeCopied, steps[s].typeCopied) << "step " << s;
        EXPECT_EQ(ui.createCopied, steps[s].dateCopied) << "step " << s;
        EXPECT_EQ(ui.modifyCopied, steps[s].dateCopied) << "step " << s;
    }

    // Every file placed exactly once in each tree, in the order found.
    EXPECT_EQ(ChildNamed(*types.rootNode(2), "jpg")->children().size(), 100u);
    EXPECT_EQ(ChildNamed(*types.rootNode(1), "doc")->children().size(), 100u);
    EXPECT_EQ(types.rootNode(64)->children().size(), 100u);
    EXPECT_EQ(ChildTexts(*ChildNamed(*types.rootNode(2), "jpg")).front(), "f0.jpg");
    for (const auto& root : {created, modified}) {
        size_t held = 0;
        for (const auto& year : root->children())
            for (const auto& month : std::get<OpNodeData::Ptr>(year)->children())
                held += std::get<OpNodeData::Ptr>(month)->children().size();
        EXPECT_EQ(held, 300u) << root->name();
    }
    EXPECT_EQ(ChildTexts(*created), (std::vector<std::string>{"2010", "2011"}));
    EXPECT_EQ(ChildTexts(*ChildNamed(*created, "2010")), (std::vector<std::string>{"01", "02", "03", "04"}));
}

TEST(Incremental, ABudgetLeavesTheRestForLaterCallsInTheOrderFound) {
    struct Case {
        size_t budget;
        size_t typeCalls;  // calls until nothing is left (each looks again at its lists' last nodes)
        size_t dateCalls;
    };
    // 30 files in three lists of ten; one month list per tree.
    const std::vector<Case> cases = {{1000, 1, 1}, {30, 1, 1}, {29, 2, 2}, {10, 4, 3}, {7, 6, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE("budget " + std::to_string(c.budget));
        testsupport::FakeUIController ui;
        testsupport::ScopedUIController installed{&ui};
        std::vector<FakeFileRow> rows;
        for (int i = 0; i < 30; ++i)
            rows.push_back({"f" + std::to_string(i) + ".doc", 1, FakeFileTime(1262347200), FakeFileTime(1262347200), 0});
        FakeFileTree files("Card", SEARCHER_FAT, rows);
        const auto all = files.Files();
        for (size_t i = 0; i < all.size(); ++i) ui.FileFound(all[i], i < 10 ? 1 : i < 20 ? 2 : 64);
        KXTypeMgr types{&ui, nullptr, std::nullopt};
        KXTimeMgr dates{&ui};
        auto created = OpNodeData::NewGroup(2, "Created", 1);
        size_t typeCalls = 1, dateCalls = 1;
        while (types.refreshTypeTree(c.budget) && typeCalls < 100) ++typeCalls;
        while (dates.refreshTimeTree(created, 2, c.budget) && dateCalls < 100) ++dateCalls;
        EXPECT_EQ(typeCalls, c.typeCalls);
        EXPECT_EQ(dateCalls, c.dateCalls);
        EXPECT_FALSE(types.refreshTypeTree(c.budget));
        std::vector<std::string> names;
        for (IFileNode* file : all) names.push_back(file->GetFileName());
        EXPECT_EQ(ChildTexts(*types.rootNode(64)), names) << "every file once, in the order found";
        EXPECT_EQ(ChildTexts(*ChildNamed(*ChildNamed(*created, "2010"), "01")), names);
    }
}

}  // namespace
