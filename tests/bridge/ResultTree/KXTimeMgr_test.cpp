#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "ResultTreeTestSupport.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/Utilities/KXCPPPublic.h"

using result_tree_test::ChildNamed;
using result_tree_test::ChildTexts;
using result_tree_test::Outline;
using result_tree_test::WithController;
using testsupport::FakeFileTime;
using testsupport::FakeFileTree;
using testsupport::kFakeFolder;
using testsupport::kFakeHidden;

namespace {

// Seconds of a UTC calendar date.
i64 Utc(int year, int month, int day, int hour = 12, int minute = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return static_cast<i64>(timegm(&t));
}

// Runs with TZ set to zone, then back to UTC (the zone of every test).
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedZone() {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

class DateTree : public WithController {
protected:
    OpNodeData::Ptr NewRoot(int keyType) { return OpNodeData::NewGroup(keyType, keyType == 2 ? "Created" : "Modified", 1); }
    void Found(FakeFileTree& tree, const std::string& path) { ui.FileFound(tree.Node(path), 64); }

    KXTimeMgr dates{&ui};
    OpNodeData::Ptr created = NewRoot(2);
    OpNodeData::Ptr modified = NewRoot(3);
};

TEST_F(DateTree, YearsAndMonthsStayInAscendingOrder) {
    FakeFileTree files("Card", SEARCHER_FAT,
                       {{"a.jpg", 1, FakeFileTime(Utc(2012, 11, 5)), FakeFileTime(Utc(2012, 11, 5)), 0},
                        {"b.jpg", 1, FakeFileTime(Utc(2012, 3, 1)), FakeFileTime(Utc(2012, 3, 1)), 0},
                        {"c.jpg", 1, FakeFileTime(Utc(2009, 11, 20)), FakeFileTime(Utc(2009, 11, 20)), 0},
                        {"d.jpg", 1, FakeFileTime(Utc(2009, 3, 10)), FakeFileTime(Utc(2009, 3, 10)), 0},
                        {"e.jpg", 1, FakeFileTime(Utc(2012, 11, 30)), FakeFileTime(Utc(2012, 11, 30)), 0},
                        {"f.jpg", 1, FakeFileTime(Utc(2010, 7, 4)), FakeFileTime(Utc(2010, 7, 4)), 0}});
    Found(files, "a.jpg");
    dates.refreshTimeTree(modified, 3);
    EXPECT_EQ(Outline(*modified), "Modified[0](2012[0](11[0](a.jpg[0])))");

    // Later refreshes bring earlier years and months: each goes before the later ones.
    Found(files, "b.jpg");
    Found(files, "c.jpg");
    dates.refreshTimeTree(modified, 3);
    Found(files, "d.jpg");
    Found(files, "e.jpg");
    Found(files, "f.jpg");
    dates.refreshTimeTree(modified, 3);
    EXPECT_EQ(Outline(*modified),
              "Modified[0](2009[0](03[0](d.jpg[0]),11[0](c.jpg[0])),2010[0](07[0](f.jpg[0])),"
              "2012[0](03[0](b.jpg[0]),11[0](a.jpg[0],e.jpg[0])))");

    // A refresh without new files changes nothing.
    const std::string before = Outline(*modified);
    dates.refreshTimeTree(modified, 3);
    EXPECT_EQ(Outline(*modified), before);

    // Group shapes.
    const auto year = ChildNamed(*modified, "2012");
    const auto month = ChildNamed(*year, "11");
    EXPECT_EQ(year->parent(), modified);
    EXPECT_EQ(month->parent(), year);
    EXPECT_EQ(year->type(), 3);
    EXPECT_EQ(month->type(), 3);
    EXPECT_TRUE(year->isExpandAble());
    EXPECT_FALSE(month->isExpandAble());
    EXPECT_EQ(modified->nodeType(), 9);
    EXPECT_EQ(year->nodeType(), 10);
    EXPECT_EQ(month->nodeType(), 10);
    // A year carries the time of the month made last under it.
    EXPECT_EQ(year->modifytime(), ChildNamed(*year, "03")->modifytime());

    // Ticks climb from a month to the root.
    month->setNodeState(2);
    EXPECT_EQ(files.Node("e.jpg")->GetCheckedStatus(), 2);
    EXPECT_EQ(year->state(), 1);
    ChildNamed(*year, "03")->setNodeState(2);
    EXPECT_EQ(year->state(), 2);
    EXPECT_EQ(modified->state(), 1);
}

TEST(DateInsertIndex, FirstGreaterNameIgnoringCase) {
    auto names = [](std::vector<std::string> list) {
        std::vector<OpNodeData::Child> groups;
        for (const auto& name : list) groups.push_back(OpNodeData::NewGroup(2, name, 1));
        return groups;
    };
    struct Case {
        const char* name;
        std::vector<std::string> groups;
        int index;
    };
    const std::vector<Case> cases = {
        {"2009", {}, -1},
        {"2009", {"2012"}, 0},
        {"2013", {"2009", "2012"}, -1},
        {"2010", {"2009", "2012"}, 1},
        {"2012", {"2009", "2012", "2014"}, 2},  // after its equals
        {"03", {"01", "11"}, 1},
        {"b", {"A", "C"}, 1},
        {"B", {"a", "c"}, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(KXTimeMgr::GetDateInsertIndex(c.name, names(c.groups)), c.index) << c.name;
}

TEST_F(DateTree, OnlyShownFilesWithATimeOfTheirKind) {
    const _FILETIME may = FakeFileTime(Utc(2014, 5, 3));
    FakeFileTree files("Card", SEARCHER_FAT,
                       {{"Folder", 0, may, may, kFakeFolder},
                        {"made.jpg", 1, may, may, 0},
                        {"nocreation.jpg", 1, 0, may, 0},
                        {"hidden.jpg", 1, may, may, kFakeHidden},
                        {"late.jpg", 1, may, may, 0}});
    for (const char* path : {"Folder", "made.jpg", "nocreation.jpg", "hidden.jpg"}) Found(files, path);
    ui.AddToTimeMap(3, 2014, 5, nullptr);
    dates.refreshTimeTree(created, 2);
    dates.refreshTimeTree(modified, 3);
    EXPECT_EQ(Outline(*created), "Created[0](2014[0](05[0](made.jpg[0])))");
    EXPECT_EQ(Outline(*modified), "Modified[0](2014[0](05[0](made.jpg[0],nocreation.jpg[0])))");

    // A file hidden at its turn does not come back; files found later still do.
    files.Node("hidden.jpg")->ShowNode(1);
    Found(files, "late.jpg");
    dates.refreshTimeTree(created, 2);
    EXPECT_EQ(Outline(*created), "Created[0](2014[0](05[0](made.jpg[0],late.jpg[0])))");

    // Any other key type places nothing.
    auto other = NewRoot(4);
    dates.refreshTimeTree(other, 4);
    dates.AddFileNode(files.Node("made.jpg"), other);
    EXPECT_TRUE(other->children().empty());
}

TEST_F(DateTree, ClearStartsBothTreesAgain) {
    FakeFileTree files("Card", SEARCHER_FAT,
                       {{"a.jpg", 1, FakeFileTime(Utc(2011, 1, 1)), FakeFileTime(Utc(2011, 2, 1)), 0}});
    Found(files, "a.jpg");
    dates.refreshTimeTree(created, 2);
    dates.refreshTimeTree(modified, 3);
    dates.clear();
    auto newCreated = NewRoot(2);
    dates.refreshTimeTree(newCreated, 2);
    EXPECT_EQ(Outline(*newCreated), "Created[0](2011[0](01[0](a.jpg[0])))");
    EXPECT_EQ(Outline(*created), "Created[0](2011[0](01[0](a.jpg[0])))") << "the old tree is left alone";
    dates.setSearch(true);
    auto searched = NewRoot(3);
    dates.refreshTimeTree(searched, 3);
    EXPECT_EQ(Outline(*searched), "Modified[0](2011[0](02[0](a.jpg[0])))");
}

TEST_F(DateTree, RefreshFlagsByViewType) {
    auto flags = [&] {
        ui.SetScanType(2);
        const bool create = dates.KXGetNeedRefreshTree();
        ui.SetScanType(3);
        return std::make_pair(create, dates.KXGetNeedRefreshTree());
    };
    auto setFlags = [&](bool create, bool modify) {
        dates.clear();
        ui.SetScanType(2);
        if (!create) dates.KXResetNeedRefreshTree();
        ui.SetScanType(3);
        if (!modify) dates.KXResetNeedRefreshTree();
    };
    using Flags = std::pair<bool, bool>;
    setFlags(false, false);
    EXPECT_EQ(flags(), Flags(false, false));
    dates.clear();
    EXPECT_EQ(flags(), Flags(true, true)) << "both trees stale after clear";

    struct Case {
        int view;
        Flags afterSet;    // from both clear
        Flags afterReset;  // from both stale
        bool get;          // what Get answers in this view with both clear
    };
    const std::vector<Case> cases = {
        {0, {true, true}, {true, true}, true},   {1, {true, true}, {true, true}, true},
        {2, {false, true}, {false, true}, false}, {3, {true, false}, {true, false}, false},
        {4, {false, false}, {true, true}, true},
    };
    for (const Case& c : cases) {
        setFlags(false, false);
        ui.SetScanType(c.view);
        dates.KXSetNeedRefreshTree();
        EXPECT_EQ(flags(), c.afterSet) << "set in view " << c.view;

        setFlags(true, true);
        ui.SetScanType(c.view);
        dates.KXResetNeedRefreshTree();
        EXPECT_EQ(flags(), c.afterReset) << "reset in view " << c.view;

        setFlags(false, false);
        ui.SetScanType(c.view);
        EXPECT_EQ(dates.KXGetNeedRefreshTree(), c.get) << "get in view " << c.view;
    }
}

TEST_F(DateTree, MonthTimesConvertBackInLocalTime) {
    // 2009-12-31 23:30 UTC is still December in UTC and already January 2010 east of it.
    struct Case {
        const char* zone;
        int year;
        int month;
    };
    const std::vector<Case> cases = {
        {"UTC", 2009, 12},
        {"<+14>-14", 2010, 1},
        {"<-11>11", 2009, 12},
        {"NZST-12NZDT,M9.5.0,M4.1.0/3", 2010, 1},
        {"<+0530>-5:30", 2010, 1},
    };
    for (const Case& c : cases) {
        ScopedZone zone(c.zone);
        FakeFileTree files("Card", SEARCHER_FAT, {});
        for (int month = 1; month <= 12; ++month)
            files.Add({"m" + std::to_string(month), 1, 0, FakeFileTime(Utc(1999, month, 15)), 0});
        files.Add({"edge", 1, 0, FakeFileTime(Utc(2009, 12, 31, 23, 30)), 0});
        for (auto* node : files.Files()) ui.FileFound(node, 2);

        KXTimeMgr zoneDates(&ui);
        auto root = NewRoot(3);
        zoneDates.refreshTimeTree(root, 3);
        const auto edgeYear = ChildNamed(*root, std::to_string(c.year));
        ASSERT_TRUE(edgeYear) << c.zone;
        char monthName[8];
        std::snprintf(monthName, sizeof monthName, "%02d", c.month);
        const auto edgeMonth = ChildNamed(*edgeYear, monthName);
        ASSERT_TRUE(edgeMonth) << c.zone;
        EXPECT_EQ(result_tree_test::ChildTexts(*edgeMonth), (std::vector<std::string>{"edge"})) << c.zone;

        // Every month group's time value gives back its own year and month.
        for (const auto& yearChild : root->children()) {
            const auto& year = std::get<OpNodeData::Ptr>(yearChild);
            for (const auto& monthChild : year->children()) {
                const auto& month = std::get<OpNodeData::Ptr>(monthChild);
                int y = 0, m = 0;
                KXCPPPublic::instance().GetYearMonthByTimeT(&y, &m, month->modifytime());
                EXPECT_EQ(std::to_string(y), year->name()) << c.zone;
                char name[8];
                std::snprintf(name, sizeof name, "%02d", m);
                EXPECT_EQ(name, month->name()) << c.zone << " " << year->name();
            }
        }
        ui.ClearMaps();
    }
}

}  // namespace
