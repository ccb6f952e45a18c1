// The quick HFS+ search on the shared real volumes and on the writer's images: what it hands to the
// tree builder against fls's listing and the planted deleted files, the bytes read through each node
// against icat's and the writer's, and the searcher's partition record, progress and stops.
#include <gtest/gtest.h>

#include <set>

#include "engine/Common/IRecoveryFilter.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "engine/HFSPlusSearch/HFSPlusPrivateData.h"
#include "engine/HFSPlusSearch/HFSPlusQuickSearcher.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "support/RecordingProgress.h"
#include "support/RecordingTree.h"
#include "support/Sha256.h"

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

struct Scan {
    std::unique_ptr<MemoryDevice> device;
    RecordingBuilder builder;
    testsupport::RecordingProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher{CreateHFSPlusQuickSearcher()};
    u64 code = 0;

    Scan(std::vector<u8> image, u32 sectorSize = 512) : device(VolumeDevice(std::move(image), sectorSize)) {
        searcher->SetDirecotryTreeBuilder(&builder);
    }
    u64 Run() { return code = searcher->QuickSearchFiles(device.get(), &progress); }
    std::unique_ptr<CSearchedPartitionInfo> Record() {
        CSearchedPartitionInfo* record = nullptr;
        if (searcher->GetSearchedPartitionInfo(&record, 1) != 1) return nullptr;
        return std::unique_ptr<CSearchedPartitionInfo>(record);
    }
};

// Our path as fls shows it: control characters as '^', the private folder with its four leading zeros.
std::string AsFls(const std::string& path) {
    const std::string privateName = "HFS+ Private Data";
    std::string shown = FlsShown(path);
    if (shown.rfind(privateName, 0) == 0) shown = "^^^^" + shown;
    return shown;
}

// What the searcher handed over must be fls's live listing: every path once, with its type and size. Hard
// links are shown as folders (their names lead to the private folder's files).
void CheckAgainstFls(Scan& scan, const std::vector<FlsEntry>& fls, const std::set<std::string>& hardLinks) {
    std::map<std::string, std::vector<RecordingBuilder::Listed>> live;
    for (const auto& l : scan.builder.List())
        if (!l.deleted) live[AsFls(l.path)].push_back(l);
    std::set<std::string> seen;
    for (const FlsEntry& e : fls) {
        SCOPED_TRACE(e.path);
        seen.insert(e.path);
        auto it = live.find(e.path);
        ASSERT_NE(it, live.end());
        ASSERT_EQ(it->second.size(), 1u);
        const auto& ours = it->second.front();
        if (hardLinks.count(e.path)) {
            EXPECT_TRUE(ours.directory);
            continue;
        }
        EXPECT_EQ(ours.directory, e.type == "d/d");
        if (e.type != "d/d") {
            EXPECT_EQ(ours.size, e.size);
        }
    }
    for (const auto& [path, nodes] : live) EXPECT_TRUE(seen.count(path)) << "not in fls: " << path;
}

// Every regular file of icat's list reads back through its node with icat's bytes.
void CheckAgainstIcat(Scan& scan, const std::map<std::string, std::string>& icat, const std::set<std::string>& hardLinks) {
    auto record = scan.Record();
    ASSERT_NE(record, nullptr);
    std::map<std::string, IFileNode*> live;
    for (const auto& l : scan.builder.List())
        if (!l.deleted) live[AsFls(l.path)] = l.node;
    size_t checked = 0;
    for (const auto& [path, sum] : icat) {
        if (hardLinks.count(path)) continue;
        SCOPED_TRACE(path);
        ASSERT_TRUE(live.count(path));
        std::string bytes;
        ASSERT_TRUE(ReadNode(*scan.device, *record, live.at(path), bytes));
        EXPECT_EQ(testsupport::Sha256Hex(bytes), sum);
        ++checked;
    }
    EXPECT_GT(checked, 3u);
}

// Every planted deleted file is handed over once, deleted, with its size and bytes.
void CheckPlanted(Scan& scan, const std::vector<hfs::Planted>& planted) {
    auto record = scan.Record();
    const auto byPath = scan.builder.ByPath();
    for (const auto& p : planted) {
        if (!p.deleted) continue;
        SCOPED_TRACE(p.path);
        ASSERT_TRUE(byPath.count(p.path));
        std::vector<RecordingBuilder::Listed> deleted;
        for (const auto& l : byPath.at(p.path))
            if (l.deleted) deleted.push_back(l);
        ASSERT_EQ(deleted.size(), 1u);
        EXPECT_EQ(deleted.front().size, i64(p.size));
        EXPECT_EQ(deleted.front().node->IsCompressed() != 0, p.compression != 0);
        std::string bytes;
        ASSERT_TRUE(ReadNode(*scan.device, *record, deleted.front().node, bytes));
        EXPECT_EQ(testsupport::Sha256Hex(bytes), p.sha256);
    }
}

}  // namespace

TEST(HfsPlusQuickSearch, SharedVolumesAgainstTheSleuthKit) {
    for (const char* name : {"hfsplus-interleaved.img", "hfsplus-macos.raw"}) {
        SCOPED_TRACE(name);
        auto bytes = SharedBytes(name);
        if (!bytes) GTEST_SKIP() << "../shared/fixtures is absent";
        Scan scan(*bytes);
        ASSERT_EQ(scan.Run(), 0u);
        const auto fls = ParseFls(testsupport::ReadFile(*testsupport::SharedFixturePath(std::string(name) + ".fls.txt")));
        CheckAgainstFls(scan, fls, {});
        CheckAgainstIcat(scan,
                         ParseIcat(testsupport::ReadFile(testsupport::FixturePath("hfsplus/shared-" + std::string(name) + ".icat.txt"))),
                         {});
        // Not journaled: nothing deleted is listed (names in node slack are not records).
        for (const auto& l : scan.builder.List()) EXPECT_FALSE(l.deleted) << l.path;
    }
}

TEST(HfsPlusQuickSearch, WriterImagesAgainstTheSleuthKitAndThePlantedFiles) {
    for (const std::string& name : hfs::FixtureNames()) {
        for (u32 sectorSize : {512u, 4096u}) {
            // Allocation blocks are never smaller than sectors.
            if (name == "hfsx" && sectorSize > 512) continue;
            SCOPED_TRACE(name + " " + std::to_string(sectorSize));
            Scan scan(FixtureBytes(name), sectorSize);
            ASSERT_EQ(scan.Run(), 0u);
            std::set<std::string> hardLinks;
            for (const auto& p : hfs::FixturePlanted(name))
                if (p.kind == "hardlink") hardLinks.insert(p.path);
            CheckAgainstFls(scan, FixtureFls(name), hardLinks);
            CheckAgainstIcat(scan, ParseIcat(testsupport::ReadFile(testsupport::FixturePath("hfsplus/" + name + ".icat.txt"))),
                             hardLinks);
            CheckPlanted(scan, hfs::FixturePlanted(name));
            auto record = scan.Record();
            EXPECT_EQ(record->m_sectorsPerCluster, (name == "hfsx" ? 512u : 4096u) / sectorSize);
        }
    }
}

TEST(HfsPlusQuickSearch, PartitionRecordAndProgress) {
    Scan scan(FixtureBytes("journaled"));
    CSearchedPartitionInfo* slot = reinterpret_cast<CSearchedPartitionInfo*>(0x1);
    EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(&slot, 0), 1);
    EXPECT_EQ(slot, reinterpret_cast<CSearchedPartitionInfo*>(0x1));  // nothing written
    ASSERT_EQ(scan.Run(), 0u);
    EXPECT_EQ(scan.builder.m_searchers.at(SEARCHER_HFSPLUS), 2);
    EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_HFSPLUS});

    auto record = scan.Record();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->m_fileSystemType, FILE_SYSTEM_HFSPLUS);
    EXPECT_EQ(record->m_sectorsPerCluster, 8u);  // 4096-byte blocks on 512-byte sectors
    EXPECT_EQ(record->m_partitionIndex, 0);
    EXPECT_EQ(record->m_cluster0Sector, 0);
    EXPECT_EQ(record->m_partitionStartSector, 0);
    EXPECT_EQ(record->GetTotalSectors(), scan.device->GetTotalSectors());
    auto* data = dynamic_cast<CHFSPlusPrivateData*>(record->m_privateData);
    ASSERT_NE(data, nullptr);
    ASSERT_NE(data->GetVolume(), nullptr);
    EXPECT_TRUE(data->GetVolume()->IsOpen());

    // Running progress counted per handed-over node, and one finished record at the end.
    const auto records = scan.progress.Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().status, PROGRESS_FINISHED);
    EXPECT_EQ(records.front().status, PROGRESS_RUNNING);
    EXPECT_EQ(records.back().current, scan.builder.m_nodes.size() + 14);  // and the 14 deleted records counted when found
}

TEST(HfsPlusQuickSearch, AStopBeforeTheCatalogWalkStillFinishes) {
    // A volume without journal: one Continued() before the deleted pass, then the walk asks before its root.
    Scan scan(FixtureBytes("plain"));
    scan.progress.StopAfter(1);
    EXPECT_EQ(scan.Run(), 0u);
    EXPECT_TRUE(scan.builder.m_nodes.empty());
    EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_HFSPLUS});
    EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
    EXPECT_NE(scan.Record()->m_privateData, nullptr);

    // Without a journal only live records are listed.
    Scan plain(FixtureBytes("plain"));
    ASSERT_EQ(plain.Run(), 0u);
    for (const auto& l : plain.builder.List()) EXPECT_FALSE(l.deleted) << l.path;
    EXPECT_EQ(plain.builder.List().size(), FixtureFls("plain").size());
}

TEST(HfsPlusQuickSearch, FailuresAreReportedWithAFinishedRecord) {
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateHFSPlusQuickSearcher());
    testsupport::RecordingProgress progress;
    auto device = VolumeDevice(FixtureBytes("plain"));
    EXPECT_EQ(result::KindOf(searcher->QuickSearchFiles(device.get(), &progress)), f::kKindNotReady);  // no builder
    RecordingBuilder builder;
    searcher->SetDirecotryTreeBuilder(&builder);
    EXPECT_EQ(result::KindOf(searcher->QuickSearchFiles(nullptr, &progress)), f::kKindNullArgument);
    EXPECT_EQ(progress.Last().status, PROGRESS_FINISHED);

    auto zeros = VolumeDevice(std::vector<u8>(1 << 20, 0));
    EXPECT_TRUE(result::IsFailure(searcher->QuickSearchFiles(zeros.get(), &progress)));
    EXPECT_TRUE(builder.m_flashes.empty());
    CSearchedPartitionInfo* record = nullptr;
    ASSERT_EQ(searcher->GetSearchedPartitionInfo(&record, 1), 1);
    EXPECT_EQ(record->m_privateData, nullptr);
    EXPECT_EQ(record->m_sectorsPerCluster, 0u);
    delete record;
}

TEST(HfsPlusQuickSearch, ThroughTheControllerAndTreeBuilderWithExistingFilesShown) {
    // The quick scan's controller with a filter that shows existing files: the tree holds fls's live
    // files as the tree builder publishes them, and the planted deleted files.
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    auto device = VolumeDevice(FixtureBytes("journaled"));
    IRecoveryFilter* filter = CreateFilter();
    filter->SetFilterTypes(FILTER_ALL);
    filter->SetScanType(SCAN_DEEP);
    testsupport::RecordingTree tree;
    testsupport::RecordingProgress progress;
    IRecoveryController* controller = CreateRecoveryController(RECOVERY_CONTROLLER_DELETED);
    ASSERT_EQ(controller->Initialize(filter), 1);
    ASSERT_EQ(controller->StartDataRecovery(device.get(), &progress, &tree), 0u);
    const auto listing = tree.Listing();
    std::set<std::string> lines(listing.begin(), listing.end());
    const std::string root = "hfs.img(HFS+)";
    for (const auto& p : hfs::FixturePlanted("journaled")) {
        // Never published: empty files and names beginning with "."; hard links are empty folders.
        if (p.size == 0 || p.path[0] == '.' || p.kind == "hardlink") continue;
        SCOPED_TRACE(p.path);
        EXPECT_TRUE(lines.count(root + "/" + p.path + " " + std::to_string(p.size) + (p.deleted ? " D" : "")));
    }
    // Copies through the data-recovery object of searcher type 31 equal the planted bytes.
    IDataRecovery* recovery = controller->GetDataRecovery(SEARCHER_HFSPLUS);
    ASSERT_NE(recovery, nullptr);
    testsupport::TempDir dir;
    size_t copied = 0;
    const auto planted = hfs::FixturePlanted("journaled");
    for (const auto& batch : tree.Batches()) {
        for (IFileNode* node : batch.nodes) {
            if (node->IsDirectory() || node->GetFileSize() == 0) continue;
            std::string path;
            for (IFileNode* at = node; at && at->GetParent(); at = at->GetParent())
                path = std::string(at->GetFileName()) + (path.empty() ? "" : "/") + path;
            const auto want = std::find_if(planted.begin(), planted.end(), [&](const hfs::Planted& p) {
                return p.path == path && p.deleted == (node->IsDeleted() != 0);
            });
            if (want == planted.end()) continue;
            IFileReader* reader = recovery->SetRecoverNode(node);
            ASSERT_NE(reader, nullptr) << path;
            reader->Release();
            const auto target = dir / ("copy" + std::to_string(copied));
            ASSERT_EQ(recovery->RecoverTo(target.c_str(), nullptr, 0), 0u) << path;
            EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(target)), want->sha256) << path;
            ++copied;
        }
    }
    EXPECT_GE(copied, 25u);
    recovery->Release();
    controller->Release();
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
}
