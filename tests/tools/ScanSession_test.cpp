// The driver's session over a real image and the real controller, tree builder and data recovery,
// with a fake deep searcher standing in for a file system: listing format and order, safe paths,
// no overwriting, byte-exact copies with their times.
#include "brelvox-scan/ScanSession.h"

#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/Utility/DataRunList.h"
#include "support/DriverListing.h"
#include "support/FakeSearchers.h"
#include "support/SimpleFileNode.h"
#include "support/TempDir.h"

namespace {

using testsupport::SimpleFileNode;

testsupport::CallLog* g_log = nullptr;

_FILETIME FromUnix(i64 s) {
    return (s + 11644473600LL) * 10000000LL;
}

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

// The nodes a fake searcher publishes under one folder of its root.
std::vector<SimpleFileNode*> (*g_nodes)() = nullptr;

ICompleteFileSystemSearchController* MakeFat() {
    auto* searcher = new testsupport::FakeDeepSearcher("fat", g_log);
    auto* record = new CSearchedPartitionInfo(512);
    record->m_partitionIndex = 0;
    record->m_sectorsPerCluster = 2;
    searcher->AddPartition(record);
    searcher->onEnd = [](IDirecotryTreeBuilder* builder) {
        builder->AddSearcherInfo(SEARCHER_FAT, 2);
        for (SimpleFileNode* node : g_nodes()) {
            if (!builder->AddNode(node, SEARCHER_FAT)) node->Release();
        }
        builder->FlashBuild(SEARCHER_FAT);
    };
    return searcher;
}

std::vector<SimpleFileNode*> PlainNodes() {
    return {Node(10, 2, "docs", true, 0, 1000000000, false),
            Node(11, 10, "b.txt", false, 1500, 1100000000, true, {DataRun{20, 2}}),
            Node(12, 10, "a.txt", false, 700, 1200000000, false, {DataRun{4, 1}}),
            Node(13, 10, "x/y", false, 10, 1300000000, true, {DataRun{8, 1}})};
}

// A name of 300 bytes, an empty file, a file past the end of the image, a file too large for the
// file-size limit the test sets, and a file under a folder that the test plants as a link.
const std::string kLongName = std::string(300, 'n') + ".txt";

std::vector<SimpleFileNode*> HardNodes() {
    return {Node(10, 2, "docs", true, 0, 1000000000, false),
            Node(11, 10, kLongName.c_str(), false, 700, 1100000000, true, {DataRun{4, 1}}),
            Node(12, 10, "empty.txt", false, 0, 1200000000, true),
            Node(13, 10, "beyond.bin", false, 3000, 1300000000, true, {DataRun{40, 3}}),
            Node(14, 10, "large.bin", false, 6000, 1400000000, true, {DataRun{2, 6}}),
            Node(15, 2, "linked", true, 0, 1000000000, false),
            Node(16, 15, "c.txt", false, 100, 1500000000, true, {DataRun{1, 1}})};
}

// A chain of 4,100 folders (deeper than 4,096 names) with a file at its foot.
constexpr int kDeepFolders = 4100;
std::vector<SimpleFileNode*> DeepNodes() {
    std::vector<SimpleFileNode*> nodes;
    for (int i = 0; i < kDeepFolders; ++i) nodes.push_back(Node(100 + i, i ? 99 + i : 2, "d", true, 0, 1000000000, false));
    nodes.push_back(Node(99999, 99 + kDeepFolders, "deep.txt", false, 700, 1200000000, false, {DataRun{4, 1}}));
    return nodes;
}

// A chain of 30 folders with names of 200 bytes (a path longer than the system resolves) with a file
// at its foot, and a file under two folders of its own that is too large to be written.
constexpr int kLongFolders = 30;
const std::string kLongFolder(200, 'f');
std::vector<SimpleFileNode*> LongNodes() {
    std::vector<SimpleFileNode*> nodes;
    for (int i = 0; i < kLongFolders; ++i)
        nodes.push_back(Node(100 + i, i ? 99 + i : 2, kLongFolder.c_str(), true, 0, 1000000000 + i, false));
    nodes.push_back(Node(99999, 99 + kLongFolders, "long.txt", false, 700, 1200000000, false, {DataRun{4, 1}}));
    nodes.push_back(Node(20, 2, "x", true, 0, 1000000000, false));
    nodes.push_back(Node(21, 20, "y", true, 0, 1000000000, false));
    nodes.push_back(Node(22, 21, "big.bin", false, 6000, 1400000000, true, {DataRun{2, 6}}));
    return nodes;
}

// Recover with a file-size limit of 4096 bytes on this process (SIGXFSZ ignored, so a write past it
// fails instead of ending the process); false with a reason when the limit cannot be set or Recover fails.
bool RecoverUnderSizeLimit(scan::ScanSession& session, scan::RecoverCounts& counts, std::string& reason) {
    struct rlimit saved {};
    if (getrlimit(RLIMIT_FSIZE, &saved) != 0) {
        reason = "cannot read the file-size limit";
        return false;
    }
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    const bool limitSet = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    if (!limitSet) reason = "cannot set the file-size limit";
    const bool recovered = limitSet && session.Recover(counts, reason);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return recovered;
}

// Runs the session's scan over a 64-sector image with the fake FAT searcher publishing nodes().
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log = &m_log;
        m_saved = Searchers();
        Searchers() = SearcherFactories{};
        Searchers().hfsPlus = Searchers().exfat = Searchers().raw = Searchers().ntfs = Searchers().apfs = nullptr;
        Searchers().fat = MakeFat;
        image.assign(64 * 512, '\0');
        for (size_t i = 0; i < image.size(); ++i) image[i] = char('A' + (i / 512) % 26);
        testsupport::WriteFile(dir / "disk.img", image);
        options.source = (dir / "disk.img").string();
        options.listPath = (dir / "list.txt").string();
        options.recoverDir = out.string();
    }
    void TearDown() override {
        Searchers() = m_saved;
        g_log = nullptr;
        g_nodes = nullptr;
    }

    // Runs the scan and writes the list; the list's text (a test failure when either fails).
    std::string ScanAndList(scan::ScanSession& session) {
        std::string reason;
        EXPECT_TRUE(session.Run(reason) && session.WriteList(reason)) << reason;
        return testsupport::ReadFile(dir / "list.txt");
    }
    // The found root's listed name: the first line's path up to its first "/".
    static std::string RootOf(const std::string& list) { return list.substr(3, list.find('/') - 3); }

    testsupport::TempDir dir;
    std::string image;
    const std::filesystem::path out = dir / "out";
    scan::Options options;

private:
    testsupport::CallLog m_log;
    SearcherFactories m_saved;
};

TEST_F(SessionTest, ListsAndRecoversThroughTheEngine) {
    g_nodes = PlainNodes;

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
        // Every listed name is one safe component: "x/y" and the root's "(FAT/FAT32)" keep no "/".
        EXPECT_EQ(lines[3], "32\t" + root + "/docs/x_y\t10\t1\t0\t1300000000");
        EXPECT_EQ(root.find('/'), std::string::npos) << root;
        EXPECT_NE(root.find("(FAT_FAT32)"), std::string::npos) << root;

        // An existing file is never overwritten: the copy takes a counter. The listed path is the
        // path under the destination.
        std::filesystem::create_directories(out / root / "docs");
        testsupport::WriteFile(out / root / "docs/a.txt", "mine");
        scan::RecoverCounts counts;
        ASSERT_TRUE(session.Recover(counts, reason)) << reason;
        EXPECT_EQ(counts.copied, 3);
        EXPECT_EQ(counts.failed, 0);
        EXPECT_EQ(counts.unreadable, 0);
        const auto docs = out / root / "docs";
        EXPECT_EQ(testsupport::ReadFile(docs / "a.txt"), "mine");
        EXPECT_EQ(testsupport::ReadFile(docs / "a_0001.txt"), image.substr(4 * 1024, 700));
        EXPECT_EQ(testsupport::ReadFile(docs / "b.txt"), image.substr(20 * 1024, 1500));
        EXPECT_EQ(testsupport::ReadFile(docs / "x_y"), image.substr(8 * 1024, 10)) << "a \"/\" in a name made safe";
        struct stat st {};
        ASSERT_EQ(stat((docs / "b.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
    }
}

// Names whose safe component differs from the name (a "/", 300 bytes), and paths whose byte order is not the order of
// their folders (" " and "!" sort before "/", "0" after it), some files listed before their folder.
std::vector<SimpleFileNode*> OrderNodes() {
    return {Node(20, 10, "x", false, 1, 1000000000, false),
            Node(10, 2, "a", true, 0, 1000000000, false),
            Node(11, 2, "a b", false, 2, 1000000000, false),
            Node(12, 2, "a!", false, 3, 1000000000, false),
            Node(13, 2, "a0", true, 0, 1000000000, false),
            Node(14, 13, "z", false, 4, 1000000000, false),
            Node(15, 10, "b", true, 0, 1000000000, false),
            Node(16, 15, "c", false, 5, 1000000000, false),
            Node(17, 10, "b c", false, 6, 1000000000, false),
            Node(21, 15, "p/q", false, 9, 1000000000, false),
            Node(22, 15, kLongName.c_str(), false, 10, 1000000000, false),
            Node(23, 15, "b0", false, 11, 1000000000, false),
            Node(24, 10, "b", false, 12, 1000000000, false)};
}

TEST_F(SessionTest, ListIsInByteOrderOfSafePaths) {
    g_nodes = OrderNodes;
    scan::ScanSession session(options);
    const std::string list = ScanAndList(session);
    ASSERT_FALSE(HasFatalFailure() || HasNonfatalFailure());
    const std::string root = RootOf(list);
    const std::string cut = std::string(251, 'n') + ".txt";
    // (path below the root, size): every node once.
    std::vector<std::pair<std::string, std::string>> expected = {
        {"a", "0"},        {"a b", "2"},      {"a!", "3"},       {"a0", "0"},     {"a0/z", "4"},
        {"a/b", "0"},      {"a/b/c", "5"},    {"a/b c", "6"},
        {"a/b/p_q", "9"},  {"a/b/" + cut, "10"}, {"a/b/b0", "11"}, {"a/b", "12"}, {"a/x", "1"}};
    // Byte order of the whole paths; the folder "a/b" and the file "a/b" keep the order they came in.
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const auto& l, const auto& r) { return root + "/" + l.first < root + "/" + r.first; });
    std::vector<std::pair<std::string, std::string>> listed;
    for (const auto& [path, size] : testsupport::ListedPathsInOrder(list))
        if (path.rfind(root + "/", 0) == 0) listed.emplace_back(path.substr(root.size() + 1), size);
    EXPECT_EQ(listed, expected) << list;
}

// What a copy meets beyond the plain case: every outcome is counted as it is and the tree holds
// exactly the files that were copied, each where the list says.
TEST_F(SessionTest, HardCasesOfRecover) {
    g_nodes = HardNodes;
    scan::ScanSession session(options);
    std::string reason;
    const std::string list = ScanAndList(session);
    ASSERT_FALSE(HasFatalFailure() || HasNonfatalFailure());
    const std::string root = RootOf(list);

    // A link planted where a folder goes: the copy must not follow it.
    testsupport::TempDir elsewhere;
    std::filesystem::create_directories(out / root);
    std::filesystem::create_directory_symlink(elsewhere.path(), out / root / "linked");

    // large.bin (6000 bytes) cannot be written whole: the write fails instead of the process dying.
    scan::RecoverCounts counts;
    ASSERT_TRUE(RecoverUnderSizeLimit(session, counts, reason)) << reason;

    EXPECT_EQ(counts.copied, 3) << "the long name, the empty file and the unreadable one";
    EXPECT_EQ(counts.failed, 2) << "large.bin and the file under the planted link";
    EXPECT_EQ(counts.unreadable, 1) << "beyond.bin";
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path())) << "nothing written through the link";

    const auto docs = out / root / "docs";
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(docs)) names.insert(e.path().filename().string());
    const std::string cutName = std::string(251, 'n') + ".txt";
    EXPECT_EQ(names, (std::set<std::string>{cutName, "empty.txt", "beyond.bin"})) << "no partial large.bin";
    // The listed path is the path under the destination, the cut name included.
    EXPECT_NE(list.find(root + "/docs/" + cutName + "\t700\t"), std::string::npos) << list;
    EXPECT_EQ(testsupport::ReadFile(docs / cutName), image.substr(4 * 1024, 700));

    // beyond.bin lies past the end of the image: kept at its size, as zeros.
    const std::string beyond = testsupport::ReadFile(docs / "beyond.bin");
    ASSERT_EQ(beyond.size(), 3000u);
    EXPECT_TRUE(beyond == std::string(3000, '\0'));

    // The empty file gets its time like every other copy.
    struct stat st {};
    ASSERT_EQ(stat((docs / "empty.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
}

// The whole path is listed however deep it goes, from the found root.
TEST_F(SessionTest, DeepPathsAreListedWhole) {
    g_nodes = DeepNodes;
    scan::ScanSession session(options);
    const std::string list = ScanAndList(session);
    ASSERT_FALSE(HasFatalFailure() || HasNonfatalFailure());
    const std::string root = RootOf(list);
    ASSERT_NE(root.find("(FAT_FAT32)"), std::string::npos) << root;
    std::string deepPath = root;
    for (int i = 0; i < kDeepFolders; ++i) deepPath += "/d";
    EXPECT_NE(list.find("\t" + deepPath + "/deep.txt\t700\t"), std::string::npos) << "the whole path";
    EXPECT_NE(list.find("\t" + deepPath + "\t0\t0\t1\t"), std::string::npos) << "the deepest folder";
}

// Files are copied at paths longer than the system resolves, through descriptors, with the folders'
// times; a copy that fails removes the folders it made, so no empty folder stays behind.
TEST_F(SessionTest, LongPathsAreCopiedAndFailedCopiesLeaveNoFolders) {
    g_nodes = LongNodes;
    scan::ScanSession session(options);
    std::string reason;
    const std::string list = ScanAndList(session);
    ASSERT_FALSE(HasFatalFailure() || HasNonfatalFailure());
    const std::string root = RootOf(list);

    scan::RecoverCounts counts;
    ASSERT_TRUE(RecoverUnderSizeLimit(session, counts, reason)) << reason;
    EXPECT_EQ(counts.copied, 1);
    EXPECT_EQ(counts.failed, 1) << "big.bin";

    // The long file, reached folder by folder; each folder has its node's time.
    int fd = ::open((out / root).c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < kLongFolders && fd >= 0; ++i) {
        const int child = ::openat(fd, kLongFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        ::close(fd);
        fd = child;
        struct stat st {};
        ASSERT_EQ(::fstat(fd, &st), 0) << i;
        EXPECT_EQ(st.st_mtim.tv_sec, 1000000000 + i) << i;
    }
    ASSERT_GE(fd, 0);
    const int file = ::openat(fd, "long.txt", O_RDONLY);
    ::close(fd);
    ASSERT_GE(file, 0);
    std::string bytes(800, '\0');
    const ssize_t got = ::read(file, bytes.data(), bytes.size());
    ::close(file);
    ASSERT_EQ(got, 700);
    EXPECT_EQ(bytes.substr(0, 700), image.substr(4 * 1024, 700));
    // big.bin failed: neither it nor the folders x and y made for it remain.
    EXPECT_FALSE(std::filesystem::exists(out / root / "x"));
}

}  // namespace
