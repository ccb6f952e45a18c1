// The quick FAT search over the committed images, checked against The Sleuth Kit's listings and bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <latch>
#include <memory>
#include <thread>

#include "engine/Common/ResultCode.h"
#include "engine/FATLib/FATFileNode.h"
#include "engine/FATLib/FATTypes.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/FATSearch/FATQuickSearcher.h"
#include "engine/FATSearch/FATSearchedPartitionInfo.h"
#include "support/RecordingProgress.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

using fattest::FileDevice;
using fattest::RecordingTreeBuilder;

namespace {

struct ImageCase {
    const char* name;
    u32 sectorSize;
    i64 firstSector;
    i64 sectors;
    u32 type;
};

const ImageCase kImages[] = {
    {"fat16", 512, 0, -1, FILE_SYSTEM_FAT16},
    {"fat32", 512, 0, -1, FILE_SYSTEM_FAT32},
    {"fat32-4k", 4096, 0, -1, FILE_SYSTEM_FAT32},
    {"mbr-fat16", 512, 2048, 36864, FILE_SYSTEM_FAT16},
};

struct Scan {
    std::unique_ptr<FileDevice> device;
    RecordingTreeBuilder builder;
    testsupport::RecordingProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher{CreateFATQuickSearcher()};
    u64 result = 0;

    Scan(const std::filesystem::path& image, u32 sectorSize, u32 type, i64 first = 0, i64 sectors = -1) {
        device = std::make_unique<FileDevice>(image, sectorSize, STORAGE_DEVICE_VOLUME, first, sectors);
        device->SetRecordedFileSystem(type);
        searcher->SetDirecotryTreeBuilder(&builder);
    }
    u64 Run() { return result = searcher->QuickSearchFiles(device.get(), &progress); }
    std::map<std::string, RecordingTreeBuilder::Listed> ByPath() const { return builder.ByPath(fattest::Comparable); }
    std::unique_ptr<CSearchedPartitionInfo> Record() {
        CSearchedPartitionInfo* record = nullptr;
        if (searcher->GetSearchedPartitionInfo(&record, 1) != 1) return nullptr;
        return std::unique_ptr<CSearchedPartitionInfo>(record);
    }
};

constexpr u64 kFat = result::kModuleFATSearch;

}  // namespace

TEST(FatQuickSearch, ListsWhatTheSleuthKitListsAndReadsItsBytes) {
    for (const ImageCase& c : kImages) {
        SCOPED_TRACE(c.name);
        Scan scan(fattest::Image(c.name), c.sectorSize, c.type, c.firstSector, c.sectors);
        ASSERT_EQ(scan.Run(), 0u);
        const auto ours = scan.ByPath();
        const auto fls = fattest::FlsListing(c.name);
        size_t deleted = 0;
        for (const auto& e : fls) {
            SCOPED_TRACE(e.path);
            auto it = ours.find(fattest::Comparable(e.path));
            ASSERT_NE(it, ours.end());
            EXPECT_EQ(it->second.deleted, e.deleted);
            EXPECT_EQ(it->second.directory, e.directory);
            deleted += e.deleted ? 1 : 0;
        }
        EXPECT_EQ(ours.size(), fls.size());
        EXPECT_GE(deleted, 8u);

        auto record = scan.Record();
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->GetType(), 1u);
        EXPECT_EQ(record->m_fileSystemType, c.type);
        EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_FAT});
        EXPECT_EQ(scan.builder.m_searchers.at(SEARCHER_FAT), 0);

        for (const auto& [path, sum] : fattest::IcatSums(c.name)) {
            if (path.find("(Volume Label Entry)") != std::string::npos) continue;
            SCOPED_TRACE(path);
            auto it = ours.find(fattest::Comparable(path));
            ASSERT_NE(it, ours.end());
            std::string bytes;
            ASSERT_TRUE(fattest::ReadThroughRuns(scan.device.get(), *record, it->second.node, bytes));
            EXPECT_EQ(testsupport::Sha256Hex(bytes), sum);
        }
        const _PROGRESS_INFO last = scan.progress.Last();
        EXPECT_EQ(last.status, PROGRESS_FINISHED);
        EXPECT_EQ(last.total, 100u);
        EXPECT_EQ(last.current, 100u);
    }
}

TEST(FatQuickSearch, LongNamesAndSizesOfDeletedEntries) {
    Scan scan(fattest::Image("fat32"), 512, FILE_SYSTEM_FAT32);
    ASSERT_EQ(scan.Run(), 0u);
    const auto ours = scan.ByPath();
    fattest::ExpectListed(ours, {
        {"deleted report.txt", 3000, true},
        {"holiday photo.jpg", 6000, true},
        {"trash folder/inside one.txt", 1500, true},
        {"docs/nested/gone away.txt", 2222, true},
        {"smile \xF0\x9F\x98\x80.txt", 100, false},
        {"docs/nested/deeper/\xC3\x9Cn\xC3\xAF"
         "c\xC3\xB6"
         "d\xC3\xA9 caf\xC3\xA9.txt",
         1234, false},
    });
}

TEST(FatQuickSearch, Fat12IsRefusedWithAFinishedRecord) {
    Scan scan(fattest::Image("fat12"), 512, FILE_SYSTEM_FAT12);
    EXPECT_EQ(scan.Run(), result::Make(kFat, 0x0061, 0xc));
    EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
    EXPECT_TRUE(scan.builder.m_nodes.empty());
    EXPECT_EQ(scan.Record(), nullptr);
}

TEST(FatQuickSearch, ArgumentAndDeviceFailures) {
    testsupport::RecordingProgress progress;
    RecordingTreeBuilder builder;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateFATQuickSearcher());
    FileDevice volume(fattest::Image("fat16"), 512);
    volume.SetRecordedFileSystem(FILE_SYSTEM_FAT16);
    EXPECT_EQ(searcher->QuickSearchFiles(&volume, &progress), result::Make(kFat, 0x0053, 7));  // no builder
    searcher->SetDirecotryTreeBuilder(&builder);
    EXPECT_EQ(searcher->QuickSearchFiles(nullptr, &progress), result::Make(kFat, 0x004e, 5));
    EXPECT_EQ(searcher->QuickSearchFiles(&volume, nullptr), result::Make(kFat, 0x004e, 5));
    EXPECT_EQ(progress.RecordCount(), 0u);

    FileDevice disk(fattest::Image("fat16"), 512, STORAGE_DEVICE_DISK);
    EXPECT_EQ(searcher->QuickSearchFiles(&disk, &progress), result::Make(kFat, 0x0081, 3));
    EXPECT_EQ(progress.Last().status, PROGRESS_FINISHED);
    FileDevice bare(fattest::Image("fat16"), 512);
    EXPECT_EQ(searcher->QuickSearchFiles(&bare, &progress), result::Make(kFat, 0x0088, 7));
    EXPECT_EQ(searcher->GetSearchedPartitionInfo(nullptr, 0), 0);  // nothing searched yet
}

TEST(FatQuickSearch, DamagedBootSectorFallsBackToTheBackupOnFat32Only) {
    testsupport::TempDir dir;
    Scan fat32(fattest::PatchedImage("fat32-sector0-damaged", dir.path()), 512, FILE_SYSTEM_FAT32);
    EXPECT_EQ(fat32.Run(), 0u);
    EXPECT_EQ(fat32.builder.m_nodes.size(), fattest::FlsListing("fat32").size());

    // FAT16 keeps no backup: sector 6 is never read as a boot sector.
    const auto copy = dir / "fat16-zeroed.img";
    std::filesystem::copy_file(fattest::Image("fat16"), copy);
    {
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        const std::string zeros(512, '\0');
        f.write(zeros.data(), 512);
    }
    Scan fat16(copy, 512, FILE_SYSTEM_FAT16);
    bool readSix = false;
    fat16.device->SetFailHook([&](i64 first, i64) {
        readSix = readSix || first == 6;
        return false;
    });
    EXPECT_EQ(fat16.Run(), result::Make(kFat, 0x00ca, 0xc));
    EXPECT_FALSE(readSix);
    EXPECT_EQ(fat16.builder.m_flashes.size(), 1u);  // the builder is flushed on every road
    EXPECT_EQ(fat16.builder.m_record, nullptr);
}

TEST(FatQuickSearch, AStopKeepsWhatWasBuiltAndStillFlushes) {
    Scan scan(fattest::Image("fat32"), 512, FILE_SYSTEM_FAT32);
    scan.progress.StopAfter(1);
    EXPECT_EQ(scan.Run(), result::Make(kFat, 0x0098, 0xd));
    EXPECT_FALSE(scan.builder.m_nodes.empty());
    EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_FAT});
    EXPECT_NE(scan.builder.m_record, nullptr);
    EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
}

TEST(FatQuickSearch, EmptyFilesGetVirtualClustersAgainFromTheStartInEachSearch) {
    for (int round = 0; round < 2; ++round) {
        Scan scan(fattest::Image("fat16"), 512, FILE_SYSTEM_FAT16);
        ASSERT_EQ(scan.Run(), 0u);
        std::set<i64> ids;
        for (const auto& l : scan.builder.List()) {
            if (!l.directory && l.size == 0) ids.insert(l.node->GetCurrentNodeID());
        }
        ASSERT_EQ(ids.size(), 2u);  // empty.txt and the deleted empty file
        EXPECT_EQ(*ids.begin(), 0x100000000LL);
        EXPECT_EQ(*ids.rbegin(), 0x100000001LL);
    }
}

TEST(FatQuickSearch, RefusedNodesAreReleasedAndTheirFoldersNotEntered) {
    Scan scan(fattest::Image("fat16"), 512, FILE_SYSTEM_FAT16);
    scan.builder.m_refuse = [](IFileNode* n) { return std::string(n->GetFileName()) == "Docs"; };
    ASSERT_EQ(scan.Run(), 0u);
    for (const auto& l : scan.builder.List()) EXPECT_EQ(l.path.rfind("Docs", 0), std::string::npos) << l.path;
}

TEST(FatQuickSearch, AFolderWhoseReadFailsAddsNoNode) {
    Scan clean(fattest::Image("fat16"), 512, FILE_SYSTEM_FAT16);
    ASSERT_EQ(clean.Run(), 0u);
    auto record = clean.Record();
    i64 manyCluster = 0;
    for (const auto& l : clean.builder.List()) {
        if (l.path == "Many") manyCluster = l.node->GetCurrentNodeID();
    }
    ASSERT_GT(manyCluster, 1);
    const i64 manySector = record->m_cluster0Sector + (manyCluster - 2) * record->m_sectorsPerCluster;

    Scan failing(fattest::Image("fat16"), 512, FILE_SYSTEM_FAT16);
    failing.device->SetFailHook(
        [&](i64 first, i64 count) { return first <= manySector && manySector < first + count; });
    ASSERT_EQ(failing.Run(), 0u);
    size_t inMany = 0;
    for (const auto& l : failing.builder.List()) inMany += l.path.rfind("Many/", 0) == 0 ? 1 : 0;
    EXPECT_EQ(inMany, 0u);
    EXPECT_EQ(failing.builder.m_nodes.size(), clean.builder.m_nodes.size() - 40);
}

TEST(FatQuickSearch, LostHighClusterWordOfADeletedFat32FileIsRevised) {
    testsupport::TempDir dir;
    std::ifstream notes(testsupport::FixturePath("fat/hostile-notes.txt"));
    std::string name, word;
    u64 cluster = 0;
    notes >> name >> word >> cluster;
    ASSERT_GT(cluster, 0x10000u);

    Scan scan(fattest::PatchedImage("fat32-high-word-lost", dir.path()), 512, FILE_SYSTEM_FAT32);
    ASSERT_EQ(scan.Run(), 0u);
    const auto ours = scan.ByPath();
    auto it = ours.find("holiday photo.jpg");
    ASSERT_NE(it, ours.end());
    EXPECT_EQ(static_cast<u64>(it->second.node->GetCurrentNodeID()), cluster);
    std::string bytes;
    auto record = scan.Record();
    ASSERT_TRUE(fattest::ReadThroughRuns(scan.device.get(), *record, it->second.node, bytes));
    EXPECT_EQ(testsupport::Sha256Hex(bytes), fattest::IcatSums("fat32").at("holiday photo.jpg"));
}

// Every hostile copy ends: no crash, no hang, a finished record; where the volume is still readable its
// listing stays inside what the clean image holds.
TEST(FatQuickSearch, HostileImagesEndCleanly) {
    struct Expect {
        const char* name;
        bool succeeds;
        u32 kind;  // expected failure kind when it does not
    };
    const std::map<std::string, Expect> expected = {
        {"fat32-sector0-damaged", {"", true, 0}},
        {"fat32-high-word-lost", {"", true, 0}},
        {"fat32-cyclic-file-chain", {"", true, 0}},
        {"fat32-cyclic-root-chain", {"", true, 0}},
        {"fat32-folder-contains-itself", {"", true, 0}},
        // The data area would start past the end of the volume: refused before any allocation.
        {"fat32-absurd-counts", {"", false, 0xc}},
        {"fat32-data-past-end", {"", false, 0xc}},
        {"fat32-huge-file-size", {"", true, 0}},
        {"fat32-spc-zero", {"", true, 0}},  // the backup boot sector serves
        {"fat32-downward-chain", {"", true, 0}},
        {"fat16-cyclic-folder-chain", {"", true, 0}},
        {"fat16-file-chain-ends-early", {"", true, 0}},
        {"fat16-file-chain-loops", {"", true, 0}},
        {"fat16-folder-contains-itself", {"", true, 0}},
        {"fat16-folder-points-to-root", {"", true, 0}},
        {"fat16-absurd-counts", {"", false, 0xc}},
        {"fat16-root-entries-huge", {"", false, 1}},
        {"fat16-garbage-root", {"", true, 0}},
        {"mbr-fat16-long-name-dotdot", {"", true, 0}},
        {"mbr-fat16-long-name-slash", {"", true, 0}},
    };
    testsupport::TempDir dir;
    const auto patches = fattest::HostilePatches();
    for (const auto& [caseName, rows] : patches) {
        SCOPED_TRACE(caseName);
        ASSERT_EQ(expected.count(caseName), 1u) << "no expectation for this case";
        const Expect& want = expected.at(caseName);
        const bool fat32 = rows.front().image == "fat32.img";
        const bool mbr = rows.front().image == "mbr-fat16.img";  // its volume starts at sector 2048
        Scan scan(fattest::PatchedImage(caseName, dir.path()), 512, fat32 ? FILE_SYSTEM_FAT32 : FILE_SYSTEM_FAT16,
                  mbr ? 2048 : 0, mbr ? 36864 : -1);
        const u64 r = scan.Run();
        if (want.succeeds) {
            EXPECT_EQ(r, 0u);
        } else {
            EXPECT_TRUE(result::IsFailure(r));
            EXPECT_EQ(result::KindOf(r), want.kind);
            EXPECT_EQ(result::ModuleOf(r), kFat);
        }
        EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
        EXPECT_EQ(scan.builder.m_flashes.size(), 1u);
        for (const auto& l : scan.builder.List()) {
            // Paths never loop: a folder that contains itself is not entered twice.
            EXPECT_LT(std::count(l.path.begin(), l.path.end(), '/'), 8) << l.path;
            std::string bytes;
            if (!l.directory && scan.Record())
                fattest::ReadThroughRuns(scan.device.get(), *scan.Record(), l.node, bytes);
        }
    }
}

// A 67,584-cluster file whose chain runs downwards, last cluster first. The table check walked the chain
// again from each of its clusters (seconds before the scan began, hours on a large volume); now the scan
// takes about as long as on the clean image, and lists the same.
TEST(FatQuickSearch, ADownwardChainIsCheckedInLinearTime) {
    using Clock = std::chrono::steady_clock;
    testsupport::TempDir dir;
    const auto patched = fattest::PatchedImage("fat32-downward-chain", dir.path());
    Scan clean(fattest::Image("fat32"), 512, FILE_SYSTEM_FAT32);
    auto start = Clock::now();
    ASSERT_EQ(clean.Run(), 0u);
    const auto cleanTime = Clock::now() - start;

    Scan scan(patched, 512, FILE_SYSTEM_FAT32);
    start = Clock::now();
    ASSERT_EQ(scan.Run(), 0u);
    const auto hostileTime = Clock::now() - start;
    EXPECT_LT(hostileTime, std::chrono::seconds(1) + 10 * cleanTime);

    const auto ours = scan.ByPath();
    const auto theirs = clean.ByPath();
    ASSERT_EQ(ours.size(), theirs.size());
    for (const auto& [path, listed] : theirs) {
        SCOPED_TRACE(path);
        auto it = ours.find(path);
        ASSERT_NE(it, ours.end());
        EXPECT_EQ(it->second.size, listed.size);
        EXPECT_EQ(it->second.deleted, listed.deleted);
        EXPECT_EQ(it->second.directory, listed.directory);
    }
    // The file reads the same through its reversed chain (its bytes are zeros).
    auto it = ours.find("filler.bin");
    ASSERT_NE(it, ours.end());
    EXPECT_EQ(it->second.node->GetCurrentNodeID(), 67730);
    std::string bytes;
    auto record = scan.Record();
    ASSERT_TRUE(fattest::ReadThroughRuns(scan.device.get(), *record, it->second.node, bytes));
    EXPECT_EQ(testsupport::Sha256Hex(bytes), fattest::IcatSums("fat32").at("filler.bin"));
}

namespace {

// Every node of a finished scan: path, size, flags and first cluster (the empty files' virtual ones too).
std::vector<std::string> FullListing(Scan& scan) {
    std::vector<std::string> out;
    for (const auto& l : scan.builder.List()) {
        out.push_back(l.path + "\t" + std::to_string(l.size) + "\t" + std::to_string(l.deleted) +
                      std::to_string(l.directory) + "\t" + std::to_string(l.node->GetCurrentNodeID()));
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

// What a FAT search carries from folder to folder (the last deleted file placed, the virtual clusters
// of empty files, the lost-folder names) belongs to the search: two FAT32 scans at once, over the same
// image and over two images, list exactly what each lists alone.
TEST(FatQuickSearch, TwoFat32ScansAtOnceListTheSameAsOneAtATime) {
    testsupport::TempDir dir;
    const std::filesystem::path images[] = {fattest::Image("fat32"),
                                            fattest::PatchedImage("fat32-high-word-lost", dir.path())};
    std::vector<std::string> alone[2];
    for (int i = 0; i < 2; ++i) {
        Scan scan(images[i], 512, FILE_SYSTEM_FAT32);
        ASSERT_EQ(scan.Run(), 0u);
        alone[i] = FullListing(scan);
        ASSERT_FALSE(alone[i].empty());
    }
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Rounds 0, 2, ...: both scans over the first image; 1, 3, ...: one over each.
        const int second = round % 2;
        Scan a(images[0], 512, FILE_SYSTEM_FAT32);
        Scan b(images[second], 512, FILE_SYSTEM_FAT32);
        std::latch start(2);
        u64 resultA = 1, resultB = 1;
        std::thread other([&] {
            start.arrive_and_wait();
            resultB = b.Run();
        });
        start.arrive_and_wait();
        resultA = a.Run();
        other.join();
        EXPECT_EQ(resultA, 0u);
        EXPECT_EQ(resultB, 0u);
        EXPECT_EQ(FullListing(a), alone[0]);
        EXPECT_EQ(FullListing(b), alone[second]);
    }
}
