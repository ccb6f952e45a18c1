// The folder builder on synthetic volumes: long names cut by the read boundary, the dot-entry rules,
// the revise switch, the PE probe, lost-folder names.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/Common/ResultCode.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/FATLib/FATFileNode.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/FATSearch/FATBuildChildren.h"
#include "engine/FATSearch/FATBuildWorker.h"
#include "engine/FATSearch/FATQuickSearcher.h"
#include "support/MemoryDevice.h"
#include "support/PutBytes.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

using testsupport::PutInto;

namespace {

// A FAT32 volume of 512-byte sectors and clusters: 32 reserved sectors, two tables of 256 sectors, then
// the data area. The root is cluster 2 and spans `rootClusters` contiguous clusters.
struct TinyFat32 {
    static constexpr u32 kSpf = 256;
    static constexpr u32 kClusters = 400;
    std::vector<u8> bytes;
    u32 rootClusters;

    explicit TinyFat32(u32 rootClusters_) : rootClusters(rootClusters_) {
        bytes.assign(u64{512} * (32 + 2 * kSpf + kClusters), 0);
        u8* b = bytes.data();
        b[0] = 0xEB;
        PutInto(bytes).Le16(11, 512);
        b[13] = 1;
        PutInto(bytes).Le16(14, 32);
        b[16] = 2;
        PutInto(bytes).Le32(32, static_cast<u32>(bytes.size() / 512)).Le32(36, kSpf).Le32(44, 2);
        std::memcpy(b + 82, "FAT32   ", 8);
        b[510] = 0x55;
        b[511] = 0xAA;
        SetNext(0, 0x0FFFFFF8);
        SetNext(1, 0x0FFFFFFF);
        for (u32 c = 2; c < 2 + rootClusters; ++c) SetNext(c, c + 1 < 2 + rootClusters ? c + 1 : 0x0FFFFFFF);
    }
    void SetNext(u32 cluster, u32 next) {
        for (u32 t = 0; t < 2; ++t) PutInto(bytes).Le32(u64{512} * (32 + t * kSpf) + cluster * 4, next);
    }
    u8* Cluster(u32 c) { return &bytes[u64{512} * (32 + 2 * kSpf + (c - 2))]; }
    // Entry k of the root (32 bytes each, across its clusters).
    u8* RootEntry(u32 k) { return Cluster(2) + u64{k} * 32; }
};

void FileEntry(u8* e, const char* name11, u32 cluster, u32 size, u8 attribute = 0x20) {
    std::memcpy(e, name11, 11);
    e[11] = attribute;
    PutInto(e, 32).Le16(20, static_cast<u16>(cluster >> 16)).Le16(26, static_cast<u16>(cluster)).Le32(28, size);
}

void LongEntry(u8* e, u8 ordinal, const std::u16string& units) {
    std::memset(e, 0, 32);
    e[0] = ordinal;
    e[11] = 0x0F;
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i) {
        u16 u = 0xFFFF;
        if (i < static_cast<int>(units.size())) u = units[i];
        if (i == static_cast<int>(units.size())) u = 0;
        PutInto(e, 32).Le16(kOffsets[i], u);
    }
}

struct VolumeRun {
    testsupport::MemoryDevice device;
    fattest::RecordingTreeBuilder builder;
    testsupport::RecordingProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher{CreateFATQuickSearcher()};
    explicit VolumeRun(std::vector<u8> bytes) : device(std::move(bytes), 512, STORAGE_DEVICE_VOLUME) {
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = FILE_SYSTEM_FAT32;
        device.SetPrivateData(CreateVolumeDeviceData(record));
        searcher->SetDirecotryTreeBuilder(&builder);
    }
    u64 Go() { return searcher->QuickSearchFiles(&device, &progress); }
};

}  // namespace

// 130 root clusters are read as a run of 128 sectors and one of 2: a long name whose pieces end the first
// read and whose 8.3 entry starts the second is carried over and built whole.
TEST(FatBuildChildren, LongNameCutByTheReadBoundaryIsCarried) {
    TinyFat32 fat(130);
    const u32 boundary = 128 * 512 / 32;  // first entry of the second read
    for (u32 k = 0; k < boundary - 2; ++k) {
        char name[12];
        std::snprintf(name, sizeof(name), "F%04u   TXT", k);
        FileEntry(fat.RootEntry(k), name, 300, 10);
    }
    LongEntry(fat.RootEntry(boundary - 2), 0x42, u"across.txt");
    LongEntry(fat.RootEntry(boundary - 1), 0x01, u"a name right ");
    FileEntry(fat.RootEntry(boundary), "ANAMER~1TXT", 301, 20);
    VolumeRun run(fat.bytes);
    ASSERT_EQ(run.Go(), 0u);
    bool found = false;
    for (const auto& l : run.builder.List()) found = found || l.path == "a name right across.txt";
    EXPECT_TRUE(found);
    EXPECT_EQ(run.builder.m_nodes.size(), boundary - 1);
}

TEST(FatBuildChildren, DotEntryRules) {
    // A FAT32 root that starts with "." is refused.
    TinyFat32 dotted(1);
    FileEntry(dotted.RootEntry(0), ".          ", 2, 0, 0x10);
    FileEntry(dotted.RootEntry(1), "..         ", 0, 0, 0x10);
    VolumeRun refused(dotted.bytes);
    EXPECT_EQ(refused.Go(), result::Make(result::kModuleFATSearch, 0x008e, 1));

    // A sub-folder without "." and ".." gives no children; one with them does.
    TinyFat32 fat(1);
    FileEntry(fat.RootEntry(0), "GOOD       ", 10, 0, 0x10);
    FileEntry(fat.RootEntry(1), "BAD        ", 11, 0, 0x10);
    fat.SetNext(10, 0x0FFFFFFF);
    fat.SetNext(11, 0x0FFFFFFF);
    FileEntry(fat.Cluster(10), ".          ", 10, 0, 0x10);
    FileEntry(fat.Cluster(10) + 32, "..         ", 0, 0, 0x10);
    FileEntry(fat.Cluster(10) + 64, "INGOOD  TXT", 300, 5);
    FileEntry(fat.Cluster(11), "INBAD   TXT", 301, 5);
    VolumeRun run(fat.bytes);
    ASSERT_EQ(run.Go(), 0u);
    std::set<std::string> paths;
    for (const auto& l : run.builder.List()) paths.insert(l.path);
    EXPECT_EQ(paths, (std::set<std::string>{"GOOD", "BAD", "GOOD/INGOOD.TXT"}));
}

TEST(FatBuildChildren, ReviseSwitchTable) {
    struct Case {
        const char* text;
        bool on;
    } cases[] = {
        {"[UserExperience]\nbRevise=0\n", false},
        {"[UserExperience]\r\nbRevise=0\r\n", false},
        {"[UserExperience]\nbRevise=00\n", true},
        {"[UserExperience]\nbRevise=false\n", true},
        {"[UserExperience]\nbRevise=\n", true},
        {"[Other]\nbRevise=0\n", true},
        {"bRevise=0\n", true},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        testsupport::WriteFile(dir / "UIConfig.ini", c.text);
        EXPECT_EQ(fat::ReadReviseSwitch((dir / "UIConfig.ini").string()), c.on) << c.text;
    }
    EXPECT_TRUE(fat::ReadReviseSwitch((dir / "missing.ini").string()));
}

TEST(FatBuildChildren, WindowsExecutableProbeStaysInsideTheSector) {
    std::vector<u8> sector(513 + 64, 0);
    sector[0] = 'M';
    sector[1] = 'Z';
    PutInto(sector).Le32(60, 0xFFFFFFFE);  // would wrap a 32-bit sum
    EXPECT_FALSE(CFATBuildChildren::bWindowsPEFiles(sector.data(), 513));
    PutInto(sector).Le32(60, 0x80);
    sector[0x80] = 'P';
    sector[0x81] = 'E';
    EXPECT_TRUE(CFATBuildChildren::bWindowsPEFiles(sector.data(), 513));
    PutInto(sector).Le32(60, 511);  // "PE" would end past the sector
    EXPECT_FALSE(CFATBuildChildren::bWindowsPEFiles(sector.data(), 513));
}

TEST(FatBuildWorker, LostFoldersAreNamedInOrder) {
    FATWorkerGeometry geometry;
    geometry.sectorsPerCluster = 4;
    geometry.dataStart = 100;
    CFATBuildWorker worker(nullptr, nullptr, nullptr, nullptr, geometry, nullptr);
    std::unique_ptr<CFATFileNode> a(worker.CreateTempFileNode(7, 3));
    std::unique_ptr<CFATFileNode> b(worker.CreateTempFileNode(9, 3));
    EXPECT_STREQ(a->GetFileName(), "DIR0");
    EXPECT_STREQ(b->GetFileName(), "DIR1");
    EXPECT_EQ(a->GetFileProperties()->m_state, 9);
    EXPECT_TRUE(a->IsDirectory());
    EXPECT_EQ(a->GetCurrentNodeID(), 7);
    EXPECT_EQ(a->GetMetadataStartPosition(), 104);
    EXPECT_EQ(worker.ConvertSectorToClusterNum(108), 4u);
    EXPECT_TRUE(worker.IsFirsectorInCluster(108));
    EXPECT_FALSE(worker.IsFirsectorInCluster(109));
}
