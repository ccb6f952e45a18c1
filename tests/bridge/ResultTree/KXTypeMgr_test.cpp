#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ResultTreeTestSupport.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "support/FakeIconProvider.h"

using brelvox::foundation::FileTypeCatalogue;
using result_tree_test::ChildNamed;
using result_tree_test::ChildTexts;
using result_tree_test::Outline;
using result_tree_test::WithController;
using testsupport::FakeFileTree;
using testsupport::FakeIcon;
using testsupport::FakeIconProvider;
using testsupport::kFakeHidden;
using testsupport::kFakeTicked;

namespace {

FileTypeCatalogue SmallCatalogue() {
    return FileTypeCatalogue({{"1", {"doc", "txt"}},
                              {"2", {"jpg", "png", "gif"}},
                              {"4", {"mov"}},
                              {"8", {"mp3"}},
                              {"16", {"zip", "both"}},
                              {"32", {"eml", "both"}},
                              {"64", {"never"}},
                              {"7", {"odd"}}});
}

// The roots' outlines, one per line.
std::string Tree(KXTypeMgr& types) {
    std::string out;
    for (const auto& root : types.getRootNode()) out += Outline(*root) + "\n";
    return out;
}

class TypeTree : public WithController {
protected:
    FakeIconProvider icons{{"gif"}};
    FakeFileTree files{"Card",
                       SEARCHER_FAT,
                       {{"Photos/b.png", 1, 0, 0, 0},
                        {"Photos/A.JPG", 2, 0, 0, 0},
                        {"Photos/c.jpg", 3, 0, 0, 0},
                        {"Photos/hidden.jpg", 4, 0, 0, kFakeHidden},
                        {"Docs/notes.txt", 5, 0, 0, 0},
                        {"Docs/README", 6, 0, 0, 0},
                        {"Docs/data.xyz", 7, 0, 0, 0},
                        {"Docs/archive.tar.BOTH", 8, 0, 0, 0},
                        {"Docs/never.never", 9, 0, 0, 0}}};
    KXTypeMgr types{&ui, &icons, SmallCatalogue()};

    IFileNode* F(const std::string& path) { return files.Node(path); }
};

TEST_F(TypeTree, FilesAreFiledByTheirExtensionOnly) {
    // The category the scan filed a node under plays no part; a node under two categories is placed once.
    for (const char* path : {"Photos/b.png", "Photos/A.JPG", "Photos/hidden.jpg", "Docs/README"})
        ui.AddToTypeMap(2, F(path));
    for (const char* path : {"Docs/notes.txt", "Photos/c.jpg", "Docs/data.xyz", "Photos/A.JPG", "Docs/archive.tar.BOTH",
                             "Docs/never.never"})
        ui.AddToTypeMap(64, F(path));
    types.refreshTypeTree();

    EXPECT_EQ(Tree(types),
              "Documents[0](txt[0](notes.txt[0]))\n"
              "Pictures[0](png[0](b.png[0]),jpg[0](A.JPG[0],c.jpg[0]))\n"
              "Movies[0]\n"
              "Music[0]\n"
              "Archives[0]\n"
              "E-mail[0](both[0](archive.tar.BOTH[0]))\n"
              "Other[0](README[0],data.xyz[0],never.never[0])\n");
    auto jpg = ChildNamed(*types.rootNode(2), "jpg");
    ASSERT_TRUE(jpg);
    EXPECT_EQ(jpg->parent(), types.rootNode(2));
    EXPECT_EQ(jpg->type(), OPNODE_TYPE_TREE);
    EXPECT_TRUE(jpg->isExpandAble());
    EXPECT_EQ(jpg->nodeType(), 8);
    EXPECT_TRUE(types.isOtherNode(types.rootNode(64).get()));
    EXPECT_FALSE(types.isOtherNode(jpg.get()));
    EXPECT_FALSE(types.isOtherNode(nullptr));

    // A second refresh without new files changes nothing.
    const std::string before = Tree(types);
    types.refreshTypeTree();
    EXPECT_EQ(Tree(types), before);
}

TEST_F(TypeTree, SevenRootsAlwaysInBitOrder) {
    const auto roots = types.getRootNode();
    ASSERT_EQ(roots.size(), 7u);
    std::vector<int> kinds;
    for (const auto& root : roots) {
        kinds.push_back(root->nodeType());
        EXPECT_TRUE(root->isFadeNode());
        EXPECT_TRUE(root->isExpandAble());
        EXPECT_EQ(root->parent(), nullptr);
    }
    EXPECT_EQ(kinds, (std::vector<int>{2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(types.getRootNode(), roots) << "the same roots each time";

    // Without a controller the roots are unnamed and nothing can be placed.
    SetUIController(nullptr);
    KXTypeMgr bare(nullptr, nullptr, std::nullopt);
    const auto bareRoots = bare.getRootNode();
    ASSERT_EQ(bareRoots.size(), 7u);
    EXPECT_EQ(bareRoots[0]->name(), "");
    bare.refreshTypeTree();
    SetUIController(&ui);
}

TEST_F(TypeTree, RefreshesResumeWhereTheLastOneStopped) {
    F("Docs/README")->ShowNode(0);
    ui.AddToTypeMap(1, F("Photos/hidden.jpg"));
    ui.AddToTypeMap(1, F("Docs/notes.txt"));
    ui.AddToTypeMap(2, F("Photos/c.jpg"));
    ui.AddToTypeMap(2, F("Docs/README"));
    types.refreshTypeTree();
    EXPECT_EQ(Outline(*types.rootNode(2)), "Pictures[0](jpg[0](c.jpg[0]))");
    EXPECT_TRUE(types.rootNode(64)->children().empty());

    // Shown later: skipped for good in a list where it was not the last node, looked at again where it
    // was the last; new files are placed after the old ones.
    F("Photos/hidden.jpg")->ShowNode(1);
    F("Docs/README")->ShowNode(1);
    ui.AddToTypeMap(1, F("Photos/A.JPG"));
    ui.AddToTypeMap(2, F("Photos/b.png"));
    types.refreshTypeTree();
    EXPECT_EQ(Outline(*types.rootNode(2)), "Pictures[0](jpg[0](c.jpg[0],A.JPG[0]),png[0](b.png[0]))");
    EXPECT_EQ(Outline(*types.rootNode(64)), "Other[0](README[0])");
    EXPECT_EQ(ChildTexts(*types.rootNode(1)), (std::vector<std::string>{"txt"}));
}

TEST_F(TypeTree, TickStatesFollowTheEngine) {
    for (const char* path : {"Photos/b.png", "Photos/A.JPG", "Photos/c.jpg", "Docs/README", "Docs/data.xyz"})
        ui.AddToTypeMap(2, F(path));
    types.refreshTypeTree();
    auto jpg = ChildNamed(*types.rootNode(2), "jpg");
    auto png = ChildNamed(*types.rootNode(2), "png");

    // Ticks made elsewhere (the list, the path tree) show only after a flagged refresh.
    F("Photos/A.JPG")->SetCheck(CHECKED_ALL);
    F("Photos/b.png")->SetCheck(CHECKED_ALL);
    F("Docs/README")->SetCheck(CHECKED_ALL);
    F("Docs/data.xyz")->SetCheck(CHECKED_ALL);
    types.refreshTypeTreeState();
    EXPECT_EQ(jpg->state(), 0) << "idle without its flag";
    EXPECT_EQ(types.rootNode(64)->state(), 0);

    types.KXSetNeedRefreshTree();
    files.ClearSetChecks();
    types.refreshTypeTreeState();
    EXPECT_EQ(types.KXGetNeedRefreshTree(), 0);
    EXPECT_EQ(jpg->state(), 1);
    EXPECT_EQ(png->state(), 2);
    EXPECT_EQ(types.rootNode(2)->state(), 1);
    EXPECT_EQ(types.rootNode(64)->state(), 2);
    EXPECT_EQ(types.rootNode(1)->state(), 0) << "a root without sub-nodes keeps its state";
    for (const auto& call : files.SetChecks()) EXPECT_NE(call.state, 1);

    // Ticking a category reaches exactly the files below it.
    files.ClearSetChecks();
    types.rootNode(2)->setNodeState(CHECKED_ALL);
    EXPECT_EQ(files.SetChecks().size(), 3u);
    EXPECT_EQ(F("Photos/c.jpg")->GetCheckedStatus(), 2);
    EXPECT_EQ(jpg->state(), 2);
    types.setNodeState(*jpg);
    EXPECT_EQ(jpg->state(), 2);
}

TEST_F(TypeTree, SearchEmptiesTheTreeAndUnticksItsFiles) {
    for (const char* path : {"Photos/b.png", "Photos/c.jpg", "Docs/README"}) ui.AddToTypeMap(2, F(path));
    types.refreshTypeTree();
    types.rootNode(2)->setNodeState(CHECKED_ALL);
    types.rootNode(64)->setNodeState(CHECKED_ALL);
    F("Docs/notes.txt")->SetCheck(CHECKED_ALL);  // not in the type tree
    EXPECT_EQ(F("Photos/c.jpg")->GetCheckedStatus(), 2);

    types.setSearch(true);
    for (const char* path : {"Photos/b.png", "Photos/c.jpg", "Docs/README"})
        EXPECT_EQ(F(path)->GetCheckedStatus(), 0) << path;
    EXPECT_EQ(F("Docs/notes.txt")->GetCheckedStatus(), 2);
    EXPECT_EQ(types.KXGetNeedRefreshTree(), 1);
    for (const auto& root : types.getRootNode()) EXPECT_TRUE(root->children().empty()) << root->name();

    // The next refresh starts again from the first node of every list.
    types.refreshTypeTree();
    EXPECT_EQ(Outline(*types.rootNode(2)), "Pictures[0](png[0](b.png[0]),jpg[0](c.jpg[0]))");
}

TEST_F(TypeTree, ClearKeepsTheRootsAndTheirStates) {
    ui.AddToTypeMap(2, F("Photos/c.jpg"));
    types.refreshTypeTree();
    const auto oldJpg = ChildNamed(*types.rootNode(2), "jpg");
    types.rootNode(2)->setNodeState(CHECKED_ALL);
    const auto roots = types.getRootNode();

    types.clear();
    EXPECT_EQ(types.getRootNode(), roots);
    EXPECT_EQ(types.rootNode(2)->state(), 2);
    EXPECT_TRUE(types.rootNode(2)->children().empty());
    EXPECT_EQ(F("Photos/c.jpg")->GetCheckedStatus(), 2) << "clear unticks nothing";
    types.refreshTypeTree();
    const auto newJpg = ChildNamed(*types.rootNode(2), "jpg");
    ASSERT_TRUE(newJpg);
    EXPECT_NE(newJpg, oldJpg);
    EXPECT_EQ(ChildTexts(*newJpg), (std::vector<std::string>{"c.jpg"}));
}

TEST_F(TypeTree, CatalogueStringsAndIcons) {
    EXPECT_EQ(types.getTypeString(2), "jpg;png;gif");
    EXPECT_EQ(types.getTypeString(32), "eml;both");
    EXPECT_EQ(types.getTypeString(64), "never");
    EXPECT_EQ(types.getTypeString(3), std::nullopt);
    EXPECT_EQ(types.categoryOf("both"), "32") << "the higher bit wins";
    EXPECT_EQ(types.categoryOf("never"), std::nullopt) << "key 64 is not read";
    EXPECT_EQ(types.categoryOf("odd"), std::nullopt);
    EXPECT_EQ(types.categoryOf("JPG"), std::nullopt) << "lookups are exact";

    const auto icon = std::dynamic_pointer_cast<const FakeIcon>(types.getImageForType("jpg"));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->source, "type:jpg");
    EXPECT_EQ(icon->Width(), 16);
    EXPECT_EQ(icon->Height(), 16);
    EXPECT_EQ(types.getImageForType("gif"), nullptr) << "the toolkit had none";
    EXPECT_EQ(types.getImageForType("xyz"), nullptr) << "not catalogued";
    EXPECT_EQ(types.imageSize(nullptr, 16, 16), nullptr);

    KXTypeMgr noIcons(&ui, nullptr, std::nullopt);
    EXPECT_EQ(noIcons.getImageForType("jpg"), nullptr);
    EXPECT_EQ(noIcons.getTypeString(2), std::nullopt);
    // Without a catalogue every file goes to the other-root.
    ui.AddToTypeMap(2, F("Photos/c.jpg"));
    noIcons.refreshTypeTree();
    EXPECT_EQ(Outline(*noIcons.rootNode(64)), "Other[0](c.jpg[0])");
}

}  // namespace
