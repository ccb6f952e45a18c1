#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "UtilitiesTestSupport.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Utility/IFilesystemNode.h"
#include "support/TempDir.h"

using testsupport::SimpleFileNode;
using utilities_test::FileTimeOf;
using utilities_test::Tree;

namespace {

TEST(KXUIPublic, PathsOfNodes) {
    Tree tree("Macintosh HD");
    auto* docs = tree.Add(tree.root(), "Documents", true);
    auto* photo = tree.Add(docs, "photo.jpg");
    auto* unnamed = tree.Add(docs, "");
    EXPECT_EQ(KXUIPublic::GetPathByFileNode(photo), "/Macintosh HD/Documents/photo.jpg");
    EXPECT_EQ(KXUIPublic::GetPathByFileNode(unnamed), "/Macintosh HD/Documents/");
    EXPECT_EQ(KXUIPublic::GetPathByFileNode(tree.root()), "/Macintosh HD");
    EXPECT_EQ(KXUIPublic::GetPathByFileNode(nullptr), "");

    auto& u = KXCPPPublic::instance();
    EXPECT_EQ(u.GetFileSystemNode(photo), static_cast<IFilesystemNode*>(tree.root()));
    EXPECT_EQ(u.GetNodeSearcheType(photo), 31u);
    EXPECT_EQ(u.GetNodeSearcheType(nullptr), 38u);
}

TEST(KXUIPublic, ParentWalksAreBounded) {
    Tree deep;
    CFileNode* current = deep.root();
    for (int i = 0; i < 1100; ++i) current = deep.Add(current, "d", true);
    EXPECT_EQ(KXUIPublic::GetPathByFileNode(current), "");
    EXPECT_EQ(KXCPPPublic::instance().GetFileSystemNode(current), nullptr);
    EXPECT_EQ(KXCPPPublic::instance().GetNodeSearcheType(current), 38u);

    // A damaged tree whose parents form a ring ends too.
    SimpleFileNode a(1, 2, "a", true), b(2, 1, "b", true);
    a.SetParent(&b);
    b.SetParent(&a);
    EXPECT_EQ(KXUIPublic::GetPathByFileNode(&a), "");
    EXPECT_EQ(KXCPPPublic::instance().GetFileSystemNode(&a), nullptr);
    a.SetParent(nullptr);
    b.SetParent(nullptr);
}

TEST(KXUIPublic, NameSearchOverNodes) {
    Tree tree;
    auto* user = tree.Add(tree.root(), "user", true);
    auto* desktop = tree.Add(user, "Desktop", true);
    auto* note = tree.Add(desktop, "note.txt");
    auto* other = tree.Add(user, "Report.PDF");
    auto* empty = tree.Add(tree.root(), "empty", true);

    struct Case {
        const char* needle;
        IFileNode* node;
        bool desktopOnly;
        bool found;
    };
    const std::vector<Case> cases = {
        {"report", tree.root(), false, true}, {"NOTE", user, false, true},
        {"note", other, false, false},        {"zzz", tree.root(), false, false},
        {"", nullptr, false, true},           {"x", nullptr, false, false},
        {"x", empty, false, false},           {"zzz", user, true, true},
        {"zzz", other, true, false},          {"zzz", note, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KXUIPublic::IsStringInFileNode(c.needle, c.node, c.desktopOnly), c.found)
            << c.needle << " desktop " << c.desktopOnly;
    }
    EXPECT_TRUE(KXCPPPublic::instance().IsStringInFileNode("report", tree.root()));
    EXPECT_TRUE(KXUIPublic::IsStringInFileNodeVector("pdf", {nullptr, note, other}));
    EXPECT_FALSE(KXUIPublic::IsStringInFileNodeVector("pdf", {note}));
    EXPECT_TRUE(KXUIPublic::IsStringInFileNodeVector("", {}));
}

TEST(cmpFileNode, NewestFirstNamesDescendingNullsDropped) {
    SimpleFileNode old(1, 0, "b-old", false), young(2, 0, "a-young", false), mid(3, 0, "c-mid", false);
    old.Times(FileTimeOf(1325376000), FileTimeOf(1420070400));    // created 2012, changed 2015
    young.Times(FileTimeOf(1420070400), FileTimeOf(1325376000));  // created 2015, changed 2012
    mid.Times(FileTimeOf(1356998400), FileTimeOf(1356998400));    // 2013
    EXPECT_TRUE(cmpFileNode(2)(&young, &old));
    EXPECT_FALSE(cmpFileNode(2)(&old, &young));
    EXPECT_FALSE(cmpFileNode(2)(&old, &old));
    EXPECT_TRUE(cmpFileNode(0)(&mid, &old)) << "names in descending byte order";
    EXPECT_TRUE(cmpFileNode(0)(&old, nullptr));
    EXPECT_FALSE(cmpFileNode(0)(nullptr, &old));
    EXPECT_FALSE(cmpFileNode(0)(nullptr, nullptr));

    std::vector<IFileNode*> nodes = {nullptr, &old, nullptr, &young, &mid, nullptr};
    KXCPPPublic::instance().SortFileNodeVector(nodes, 2);
    EXPECT_EQ(nodes, (std::vector<IFileNode*>{&young, &mid, &old}));
    KXCPPPublic::instance().SortFileNodeVector(nodes, 3);
    EXPECT_EQ(nodes, (std::vector<IFileNode*>{&old, &mid, &young}));
    KXCPPPublic::instance().SortFileNodeVector(nodes, 1);
    EXPECT_EQ(nodes, (std::vector<IFileNode*>{&mid, &old, &young}));
}

TEST(KXCPPPublic, SecondCopyByExactProcessName) {
    testsupport::TempDir proc;
    auto process = [&](const std::string& pid, const std::string& comm) {
        std::filesystem::create_directories(proc / pid);
        testsupport::WriteFile(proc / pid / "comm", comm + "\n");
    };
    process("1", "systemd");
    process("42", "b");
    process("43", "Brelvo");
    process(std::to_string(getpid()), "Brelvox");  // this process does not count
    process("self", "Brelvox");                    // not a process number
    auto& u = KXCPPPublic::instance();
    EXPECT_FALSE(u.IsAppRunning("Brelvox", proc.str()));
    process("77", "brelvox");
    EXPECT_TRUE(u.IsAppRunning("Brelvox", proc.str()));
    EXPECT_FALSE(u.IsAppRunning("Brelvox", (proc / "missing").string()));
}

}  // namespace
