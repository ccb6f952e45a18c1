// The container records read over whole images, blocks offered in order as the deep scan offers them:
// what is handed to the tree builder against The Sleuth Kit's listing and bytes (and fsapfsinfo's
// hierarchy), the deleted files, stable node IDs, and the ownership of nodes under a real builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "ApfsTestSupport.h"
#include "engine/APFS/APFSContainer.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/RecoveryFilter/RecoveryFilter.h"
#include "support/RecordingTree.h"

using apfstest::Listed;
using apfstest::Scan;

namespace {

struct ImageCase {
    const char* name;
    bool shared;
    const char* fls;
    const char* icat;
};

// Images made by macOS, by the Linux driver and by mkapfs with injected records.
const ImageCase kImages[] = {
    {"apfs-records", false, "apfs/apfs-records.fls.txt", "apfs/apfs-records.icat.txt"},
    {"apfs-macos.raw", true, "apfs-macos.raw.fls.txt", "apfs/shared-apfs-macos.icat.txt"},
    {"apfs-1g-sparse.img", true, "apfs-1g-sparse.img.fls.txt", "apfs/shared-apfs-1g-sparse.icat.txt"},
};

std::optional<std::filesystem::path> ImageOf(const ImageCase& c) {
    if (!c.shared) return apfstest::Image(c.name);
    return apfstest::SharedImage(c.name);
}

std::filesystem::path FlsOf(const ImageCase& c) {
    return c.shared ? *testsupport::SharedFixturePath(c.fls) : testsupport::FixturePath(c.fls);
}

// The live tree handed over, less the volume's private folder (fls does not list it; it holds no
// user file, and the tree builder does not link an empty folder), with the trash folder, which the
// name rule marks deleted, counted as live.
std::vector<Listed> LiveTree(const Scan& scan) {
    std::vector<Listed> out;
    for (const auto& e : scan.entries) {
        if (e.path == "private-dir") continue;
        const bool trash = e.directory && e.path == "Trashes";
        if (!e.deleted || trash) out.push_back({e.path, e.size, e.directory});
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(ApfsContainer, TheLiveTreeOfEachImageIsTheSleuthKitsListing) {
    for (const ImageCase& c : kImages) {
        const auto image = ImageOf(c);
        ASSERT_TRUE(image) << c.name << " is missing from the shared fixtures";
        for (u32 sectorSize : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.name) + " sectors of " + std::to_string(sectorSize));
            Scan scan(*image, sectorSize);
            EXPECT_EQ(LiveTree(scan), apfstest::FlsGolden(FlsOf(c)));
            ASSERT_EQ(scan.scan->Containers().size(), 1u);
        }
    }
}

TEST(ApfsContainer, RunsReadThroughTheFileReaderGiveIcatsBytes) {
    for (const ImageCase& c : kImages) {
        const auto image = ImageOf(c);
        ASSERT_TRUE(image) << c.name << " is missing from the shared fixtures";
        for (u32 sectorSize : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.name) + " sectors of " + std::to_string(sectorSize));
            Scan scan(*image, sectorSize);
            const auto golden = apfstest::IcatGolden(testsupport::FixturePath(c.icat));
            ASSERT_FALSE(golden.empty());
            for (const auto& file : golden) {
                const auto* entry = scan.Find(file.path);
                ASSERT_TRUE(entry) << file.path;
                EXPECT_EQ(entry->size, file.size) << file.path;
                if (file.size == 0) continue;
                const auto bytes = scan.Bytes(entry->node);
                ASSERT_TRUE(bytes) << file.path;
                EXPECT_EQ(testsupport::Sha256Hex(*bytes), file.sha256) << file.path;
            }
        }
    }
}

TEST(ApfsContainer, TheLinuxDriversDeletedFilesComeOutDeleted) {
    const auto image = apfstest::SharedImage("apfs-1g-sparse.img");
    ASSERT_TRUE(image) << "apfs-1g-sparse.img is missing from the shared fixtures";
    Scan scan(*image, 512);
    // Found in old copy-on-write leaves reached through older object maps.
    for (const char* path : {"OldDir", "OldDir/inside.txt", "Documents/Deep Nested/A deleted long file name.txt"}) {
        const auto* entry = scan.Find(path);
        ASSERT_TRUE(entry) << path;
        EXPECT_TRUE(entry->deleted) << path;
    }
    EXPECT_TRUE(scan.Find("OldDir")->directory);
    EXPECT_EQ(scan.Find("OldDir/inside.txt")->size, 23);
    EXPECT_EQ(scan.Find("Documents/Deep Nested/A deleted long file name.txt")->size, 22);
    // del1.bin survives only in the unused space of the tree's root node, outside any record: no node.
    for (const auto& e : scan.entries) EXPECT_EQ(e.path.find("del1.bin"), std::string::npos) << e.path;
}

// The manifest of the injector: state, kind, path, size, SHA-256.
struct Injected {
    std::string state, kind, path, sha256;
    i64 size;
};

std::vector<Injected> Manifest() {
    std::ifstream in(testsupport::FixturePath("apfs/apfs-records.manifest.tsv"));
    std::vector<Injected> out;
    std::string line;
    while (std::getline(in, line)) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() == 5) out.push_back({f[0], f[1], f[2], f[4], std::stoll(f[3])});
    }
    return out;
}

TEST(ApfsContainer, OrphanTreeNodesGiveDeletedFilesCopiedOutByteForByte) {
    for (u32 sectorSize : {512u, 4096u}) {
        Scan scan(apfstest::Image("apfs-records"), sectorSize);
        int deleted = 0;
        for (const Injected& file : Manifest()) {
            SCOPED_TRACE(file.path);
            if (file.state != "deleted") continue;
            ++deleted;
            const auto* entry = scan.Find(file.path);
            ASSERT_TRUE(entry);
            EXPECT_TRUE(entry->deleted);
            EXPECT_EQ(entry->directory, file.kind == "d");
            EXPECT_EQ(entry->size, file.size);
            if (file.kind == "d") continue;
            const auto bytes = scan.Bytes(entry->node);
            ASSERT_TRUE(bytes);
            EXPECT_EQ(testsupport::Sha256Hex(*bytes), file.sha256);
        }
        EXPECT_EQ(deleted, 4);
        // A node with the physical flag at a block other than its identifier is ignored; a file whose
        // times all lie before 1985-11-05 has no creation time and is never handed over; a directory
        // record ".DS_Store" makes no node.
        for (const auto& e : scan.entries) {
            EXPECT_EQ(e.path.find("Mismatch.txt"), std::string::npos);
            EXPECT_EQ(e.path.find("Old1980.txt"), std::string::npos);
            EXPECT_EQ(e.path.find("DS_Store"), std::string::npos);
        }
        // The file of 1980 stays the container's, out of the pending map the flushes walk.
        const APFSContainer* container = scan.scan->Container(0);
        EXPECT_EQ(container->PendingCount(), 0u);
        EXPECT_GE(container->OwnedCount(), 1u);
    }
}

TEST(ApfsContainer, NamesFollowTheNameRule) {
    Scan scan(apfstest::Image("apfs-records"), 512);
    // ".hidden.txt" loses its dot, ".Trashes" is the deleted folder "Trashes", ".DS_Store" is gone.
    const auto* hidden = scan.Find("hidden.txt");
    ASSERT_TRUE(hidden);
    EXPECT_FALSE(hidden->deleted);
    const auto* trash = scan.Find("Trashes");
    ASSERT_TRUE(trash);
    EXPECT_TRUE(trash->deleted);
    EXPECT_TRUE(trash->directory);
    const auto* thrown = scan.Find("Trashes/thrown away.txt");
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->size, 1500);
}

TEST(ApfsContainer, TwoRunsGiveTheSameNodeIds) {
    const auto image = apfstest::SharedImage("apfs-1g-sparse.img");
    auto ids = [](const std::filesystem::path& path) {
        Scan scan(path, 512);
        std::vector<std::string> out;
        for (const auto& e : scan.entries)
            out.push_back(e.path + " " + std::to_string(e.node->GetCurrentNodeID()) + " " +
                          std::to_string(e.node->GetParentNodeID()));
        return out;
    };
    const auto records = ids(apfstest::Image("apfs-records"));
    EXPECT_EQ(records, ids(apfstest::Image("apfs-records")));
    ASSERT_TRUE(image) << "apfs-1g-sparse.img is missing from the shared fixtures";
    // This one holds duplicate nodes of one key (a folder renamed before it was deleted).
    const auto first = ids(*image);
    EXPECT_EQ(first, ids(*image));
    EXPECT_TRUE(std::any_of(first.begin(), first.end(), [](const std::string& line) {
        return line.find(" " + std::to_string(APFSContainer::kDuplicateIdBase | APFSContainer::kDuplicateIdLowBit |
                                              1)) != std::string::npos;
    }));
}

// The real tree builder: every node the containers hand over is released exactly once, whether the
// builder took it or refused it (ASan reports a leak or a double free otherwise), and the tree it
// links holds the Sleuth Kit's listing and the deleted files.
TEST(ApfsContainer, UnderTheRealBuilderEveryNodeIsReleasedOnce) {
    for (bool refuseSome : {false, true}) {
        SCOPED_TRACE(refuseSome ? "a builder that refuses" : "the builder");
        testsupport::RecordingTree tree;
        CRecoveryFilter filter;
        filter.SetFilterTypes(FILTER_ALL);
        filter.SetScanType(SCAN_DEEP);
        int published = 0;
        {
            CDirectoryTreeBuilder builder(false);
            builder.SetClock([] { return 0; }, [](int) {});
            ASSERT_EQ(builder.Initialize("Dev", &tree, &filter), 1);
            testsupport::ImageFileDevice device(apfstest::Image("apfs-records"), 512);
            testsupport::CapturingTreeBuilder refusing;
            struct Forward : IDirecotryTreeBuilder {
                IDirecotryTreeBuilder* to;
                bool refuse;
                int n = 0;
                int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
                int AddNode(IFileNode* node, _tagSearcherType type) override {
                    return refuse && (n++ % 2) ? 0 : to->AddNode(node, type);
                }
                int AddSearcherInfo(_tagSearcherType type, i64 root) override {
                    return to->AddSearcherInfo(type, root);
                }
                void FlashBuild(_tagSearcherType type) override { to->FlashBuild(type); }
                void Release() override {}
                void SetPartitonDevice(CSearchedPartitionInfo* r, IStorageDevice* d) override {
                    to->SetPartitonDevice(r, d);
                }
            } forward;
            forward.to = &builder;
            forward.refuse = refuseSome;
            testsupport::ApfsBlockScan scan(&device, &forward);
            scan.Run();
            scan.Finish();
            published = scan.published;
            EXPECT_GT(scan.published, scan.accepted);  // the root folder names itself as parent
            if (!refuseSome) {
                // The linked tree: the live files, the volume's private folder, the deleted files.
                std::vector<std::string> expected{"Dev(APFS)", "Dev(APFS)/private-dir 0"};
                for (const Listed& l : apfstest::FlsGolden(testsupport::FixturePath("apfs/apfs-records.fls.txt"))) {
                    const bool trash = l.path.rfind("Trashes", 0) == 0;
                    expected.push_back("Dev(APFS)/" + l.path + " " + std::to_string(l.size) + (trash ? " D" : ""));
                }
                for (const char* gone :
                     {"Gone.txt 5000 D", "GoneDir 0 D", "GoneDir/inner.txt 700 D", "Physical.txt 900 D"})
                    expected.push_back(std::string("Dev(APFS)/") + gone);
                std::sort(expected.begin(), expected.end());
                EXPECT_EQ(tree.Listing(), expected);
            }
        }
        EXPECT_GT(published, 10);
    }
}

TEST(ApfsContainer, AStopEndsTheScanAtOnce) {
    testsupport::ImageFileDevice device(apfstest::Image("apfs-records"), 512);
    testsupport::CapturingTreeBuilder builder;
    testsupport::ApfsBlockScan scan(&device, &builder);
    int asked = 0;
    scan.keepGoing = [&] { return ++asked < 40; };
    scan.Run();
    scan.Finish();
    EXPECT_LT(asked, 60);
}

}  // namespace
