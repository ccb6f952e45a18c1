// The driver's session over a real image and the real controller, tree builder and data recovery,
// with a fake deep searcher standing in for a file system: listing format and order, safe paths,
// no overwriting, byte-exact copies with their times.
#include "../../tools/brelvox-scan/ScanSession.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/Utility/DataRunList.h"
#include "support/FakeSearchers.h"
#include "support/SimpleFileNode.h"
#include "support/TempDir.h"

namespace {

using testsupport::SimpleFileNode;

testsupport::CallLog* g_log = nullptr;

_FILETIME FromUnix(i64 s) { return (s + 11644473600LL) * 10000000LL; }

SimpleFileNode* Node(i64 id, i64 parent, const char* name, bool folder, i64 size, i64 mtime, bool deleted,
                     std::initializer_list<DataRun> runs = {}) {
    auto* node = new SimpleFileNode(id, parent, name, folder, size);
    node->Type(SEARCHER_FAT).Times(FromUnix(mtime), FromUnix(mtime)).Deleted(deleted);
    node->SetBelongedPartition(0);
    if (!folder) {
        IDataRunList* list = CreateDataRunList();
        for (const DataRun& r : runs) list->AddDataRun(&r);
        node->SetDataRunList(list);
    }
    return node;
}

ICompleteFileSystemSearchController* MakeFat() {
    auto* searcher = new testsupport::FakeDeepSearcher("fat", g_log);
    auto* record = new CSearchedPartitionInfo(512);
    record->m_partitionIndex = 0;
    record->m_sectorsPerCluster = 2;
    searcher->AddPartition(record);
    searcher->onEnd = [](IDirecotryTreeBuilder* builder) {
        builder->AddSearcherInfo(SEARCHER_FAT, 2);
        for (SimpleFileNode* node : {Node(10, 2, "docs", true, 0, 1000000000, false),
                                     Node(11, 10, "b.txt", false, 1500, 1100000000, true, {DataRun{20, 2}}),
                                     Node(12, 10, "a.txt", false, 700, 1200000000, false, {DataRun{4, 1}}),
                                     Node(13, 10, "x/y", false, 10, 1300000000, true, {DataRun{8, 1}})}) {
            if (!builder->AddNode(node, SEARCHER_FAT)) node->Release();
        }
        builder->FlashBuild(SEARCHER_FAT);
    };
    return searcher;
}

TEST(ScanSession, ListsAndRecoversThroughTheEngine) {
    testsupport::CallLog log;
    g_log = &log;
    SearcherFactories saved = Searchers();
    Searchers() = SearcherFactories{};
    Searchers().hfsPlus = Searchers().exfat = Searchers().raw = Searchers().ntfs = Searchers().apfs = nullptr;
    Searchers().fat = MakeFat;

    testsupport::TempDir dir;
    std::string image(64 * 512, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = char('A' + (i / 512) % 26);
    testsupport::WriteFile(dir / "disk.img", image);
    const auto out = dir / "out";

    scan::Options options;
    options.source = (dir / "disk.img").string();
    options.listPath = (dir / "list.txt").string();
    options.recoverDir = out.string();
    {
        scan::ScanSession session(options);
        std::string reason;
        ASSERT_TRUE(session.Run(reason)) << reason;
        ASSERT_TRUE(session.WriteList(reason)) << reason;
        const std::string list = testsupport::ReadFile(dir / "list.txt");
        // Sorted by path, the found root's name first; type, path, size, deleted, folder, mtime.
        std::vector<std::string> lines;
        std::istringstream in(list);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        ASSERT_EQ(lines.size(), 4u) << list;
        const std::string root = lines[0].substr(3, lines[0].find("/docs") - 3);
        EXPECT_EQ(lines[0], "32\t" + root + "/docs\t0\t0\t1\t1000000000");
        EXPECT_EQ(lines[1], "32\t" + root + "/docs/a.txt\t700\t0\t0\t1200000000");
        EXPECT_EQ(lines[2], "32\t" + root + "/docs/b.txt\t1500\t1\t0\t1100000000");
        EXPECT_EQ(lines[3], "32\t" + root + "/docs/x/y\t10\t1\t0\t1300000000");

        // An existing file is never overwritten: the copy takes a counter.
        // The root's name holds a "/" ("Disk(FAT/FAT32)"): one safe component on disk.
        std::string safeRoot = root;
        std::replace(safeRoot.begin(), safeRoot.end(), '/', '_');
        std::filesystem::create_directories(out / safeRoot / "docs");
        testsupport::WriteFile(out / safeRoot / "docs/a.txt", "mine");
        int copied = 0, failed = 0;
        ASSERT_TRUE(session.Recover(copied, failed, reason)) << reason;
        EXPECT_EQ(copied, 3);
        EXPECT_EQ(failed, 0);
        const auto docs = out / safeRoot / "docs";
        EXPECT_EQ(testsupport::ReadFile(docs / "a.txt"), "mine");
        EXPECT_EQ(testsupport::ReadFile(docs / "a_0001.txt"), image.substr(4 * 1024, 700));
        EXPECT_EQ(testsupport::ReadFile(docs / "b.txt"), image.substr(20 * 1024, 1500));
        EXPECT_EQ(testsupport::ReadFile(docs / "x_y"), image.substr(8 * 1024, 10)) << "a \"/\" in a name made safe";
        struct stat st {};
        ASSERT_EQ(stat((docs / "b.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
    }
    Searchers() = saved;
    g_log = nullptr;
}

}  // namespace
