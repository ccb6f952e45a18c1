// The edge cases of the exFAT boot sector, FAT, entry sets, node and quick search, in one table.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatPartition.h"
#include "engine/EXFatSearch/ExFatQuickSearch.h"
#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "engine/Utility/DataRunList.h"
#include "support/RecordingProgress.h"

using exfattest::BootGeometry;
using exfattest::MakeBootSector;

namespace {

bool Valid(const std::vector<u8>& sector, u32 deviceSectorSize) {
    return CExFatDBR(sector.data(), sector.size()).IsValid(deviceSectorSize);
}

// A device of 512-byte sectors holding a FAT of fatSectors sectors from sector 8 (64 sectors follow it),
// each entry the number of its own cluster.
std::unique_ptr<testsupport::MemoryDevice> FatDevice(u32 fatSectors) {
    auto device = std::make_unique<testsupport::MemoryDevice>(8 + i64{fatSectors} + 64, 512);
    ByteWriter w(device->Bytes());
    for (u32 cluster = 0; cluster < fatSectors * 128; ++cluster) w.Le32(8 * 512 + 4 * u64{cluster}, cluster);
    return device;
}

std::vector<std::pair<i64, u64>> Runs(IDataRunList* list) {
    std::vector<std::pair<i64, u64>> out;
    for (DataRun* r = list->GetFirst(); r != nullptr; r = list->GetNext()) out.emplace_back(r->start, r->length);
    return out;
}

struct QuickRun {
    fattest::RecordingTreeBuilder builder;
    testsupport::RecordingProgress progress;
    CExFatQuickSearch searcher;
    explicit QuickRun(IStorageDevice* device) {
        searcher.SetDirecotryTreeBuilder(&builder);
        searcher.QuickSearchFiles(device, &progress);
    }
};

}  // namespace

TEST(ExFatEdgeCases, OfTheBootSectorFatEntrySetsNodeAndQuickSearch) {
    struct Case {
        const char* what;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"each of the nine boot-sector tests fails by one byte",
         [] {
             const std::vector<u8> good = MakeBootSector(BootGeometry{});
             ASSERT_TRUE(Valid(good, 512));
             const struct {
                 const char* test;
                 size_t offset;
                 u8 value;
             } patches[] = {
                 {"1 signature", 511, 0x00},           {"1 name", 3, 'F'},
                 {"2 must-be-zero", 40, 0x01},         {"3 sector shift", 108, 10},
                 {"4 cluster shift", 109, 17},         {"5 number of FATs", 110, 3},
                 {"6 FAT length", 84, 0},              {"7 root cluster", 96, 1},
                 {"8 heap before the FAT's end", 88, 20}, {"9 heap past the volume", 92, 0xFF},
             };
             for (const auto& p : patches) {
                 std::vector<u8> bad = good;
                 bad[p.offset] = p.value;
                 EXPECT_FALSE(Valid(bad, 512)) << p.test;
             }
             EXPECT_FALSE(Valid(good, 4096)) << "the shift must match the device";
             EXPECT_FALSE(Valid(std::vector<u8>(good.begin(), good.begin() + 511), 512)) << "short view";
         }},
        {"shifts 12 and 13 pass test 4, 12 and 14 do not",
         [] {
             BootGeometry g;
             g.sectorShift = 12;
             g.clusterShift = 13;
             g.total = u64{1} << 20;
             g.clusters = 2;
             EXPECT_TRUE(Valid(MakeBootSector(g), 4096));
             g.clusterShift = 14;
             EXPECT_FALSE(Valid(MakeBootSector(g), 4096));
         }},
        {"test 9 measures up to the start of the last cluster",
         [] {
             BootGeometry g;  // heap 32 + 507 clusters of 8 sectors: the last starts at 4088
             g.total = 4088;
             EXPECT_TRUE(Valid(MakeBootSector(g), 512));
             g.total = 4087;
             EXPECT_FALSE(Valid(MakeBootSector(g), 512));
         }},
        {"a tenth FAT piece evicts the lowest, which is read again when asked for",
         [] {
             const u32 perPiece = CFatTable::kPieceBytes / 512;
             auto device = FatDevice(10 * perPiece);
             CFatTable table;
             table.CreateFatTable(device.get(), 8, 10 * perPiece, 0);
             ASSERT_TRUE(table.IsValid());
             for (u32 piece = 0; piece < 9; ++piece)
                 EXPECT_EQ(table.GetNextCluster(piece * CFatTable::kEntriesPerPiece + 5), piece * CFatTable::kEntriesPerPiece + 5);
             EXPECT_EQ(table.GetCachedPieceCount(), 9u);
             EXPECT_EQ(table.GetNextCluster(9 * CFatTable::kEntriesPerPiece + 1), 9 * CFatTable::kEntriesPerPiece + 1);
             EXPECT_EQ(table.GetCachedPieceCount(), 9u);
             EXPECT_FALSE(table.IsPieceCached(8));
             EXPECT_TRUE(table.IsPieceCached(8 + perPiece));
             const int reads = device->ReadCount();
             EXPECT_EQ(table.GetNextCluster(7), 7u);
             EXPECT_EQ(device->ReadCount(), reads + 1);
             EXPECT_FALSE(table.IsPieceCached(8 + perPiece)) << "the next lowest left";
         }},
        {"a FAT shorter than a piece reads as zeros past its end; one reaching the device's end is never loaded",
         [] {
             auto device = FatDevice(4);
             for (u32 s = 12; s < 20; ++s) device->Bytes()[s * 512] = 0xEE;  // heap bytes after the FAT
             CFatTable table;
             table.CreateFatTable(device.get(), 8, 4, 0);
             EXPECT_EQ(table.GetNextCluster(511), 511u);
             EXPECT_EQ(table.GetNextCluster(512), 0u);
             EXPECT_EQ(device->ReadCount(), 1);
             CFatTable atEnd;
             atEnd.CreateFatTable(device.get(), 8, static_cast<u32>(device->GetTotalSectors() - 8), 0);
             EXPECT_FALSE(atEnd.IsValid());
             EXPECT_EQ(atEnd.GetNextCluster(3), 0xFFFFFFFFu);
         }},
        {"a piece at the FAT's end holds the FAT's sectors only: entries past them read as free, unread",
         [] {
             const u32 perPiece = CFatTable::kPieceBytes / 512;
             auto device = FatDevice(2 * perPiece);  // entries written well past the FAT below
             const u32 past = 8 + 2 * perPiece;
             for (u32 s = past; s < past + 8; ++s) device->Bytes()[size_t{s} * 512] = 0xEE;
             CFatTable table;
             table.CreateFatTable(device.get(), 8, perPiece + 4, 0);
             ASSERT_TRUE(table.IsValid());
             const u32 second = CFatTable::kEntriesPerPiece;
             EXPECT_EQ(table.GetNextCluster(second + 511), second + 511) << "the FAT's last sector";
             EXPECT_EQ(table.GetNextCluster(second + 512), 0u) << "the sector after the FAT is no part of it";
             const int reads = device->ReadCount();
             EXPECT_EQ(table.GetNextCluster(2 * CFatTable::kEntriesPerPiece), 0u) << "a piece wholly past the FAT";
             EXPECT_EQ(device->ReadCount(), reads);
             EXPECT_EQ(table.GetCachedPieceCount(), 2u);
         }},
        {"sector to cluster rounds up; clusters 0 and 1 have no sector",
         [] {
             CExFatPartition p;
             p.SetSectorsPerCluster(8);
             p.SetDataRegionStart(100);
             EXPECT_EQ(p.ConvertClusterNumToSector(5), 124);
             EXPECT_EQ(p.ConvertSectorToClusterNum(124), 5u);
             EXPECT_EQ(p.ConvertSectorToClusterNum(125), 6u);
             EXPECT_EQ(p.ConvertSectorToClusterNum(131), 6u);
             EXPECT_EQ(p.ConvertClusterNumToSector(1), 0);
             EXPECT_EQ(p.ConvertClusterNumToSector(0), 0);
             p.SetSectorsPerCluster(0);
             EXPECT_EQ(p.ConvertSectorToClusterNum(124), 0u);
         }},
        {"a contiguous file of 10,000 bytes at cluster 7 gives the run (5, 3)",
         [] {
             CExFatPartition p;
             p.SetSectorSize(512);
             p.SetSectorsPerCluster(8);
             _tagFileBaseInfo r;
             r.firstCluster = 7;
             r.dataLength = 10000;
             r.noFatChain = 1;
             std::unique_ptr<IDataRunList, void (*)(IDataRunList*)> runs(p.BuildFileDataRun(r),
                                                                        [](IDataRunList* l) { l->Release(); });
             EXPECT_EQ(Runs(runs.get()), (std::vector<std::pair<i64, u64>>{{5, 3}}));
         }},
        {"no runs for a folder, an empty file or a cluster outside the heap; one cluster when the FAT reads 0",
         [] {
             auto device = FatDevice(8);
             ByteWriter(device->Bytes()).Le32(8 * 512 + 4 * 7, 0);
             CExFatPartition p;
             p.SetSectorSize(512);
             p.SetSectorsPerCluster(1);
             p.SetClusterBound(500);
             p.CreateFatTable(device.get(), 8, 8, 0);
             _tagFileBaseInfo r;
             r.firstCluster = 7;
             r.dataLength = 5000;
             for (auto [attributes, length, first, want] :
                  {std::tuple<u16, i64, u32, size_t>{0x10, 5000, 7, 0}, {0x20, 0, 7, 0}, {0x20, 5000, 1, 0},
                   {0x20, 5000, 0xFFFFFFF6, 0}, {0x20, 5000, 7, 1}}) {
                 r.attributes = attributes;
                 r.dataLength = length;
                 r.firstCluster = first;
                 IDataRunList* runs = p.BuildFileDataRun(r);
                 EXPECT_EQ(Runs(runs).size(), want) << attributes << " " << length << " " << first;
                 runs->Release();
             }
         }},
        {"1 January 1980 at midnight, under TZ=UTC",
         [] {
             const u32 stamp = (u32{0} << 9 | 1u << 5 | 1u) << 16;
             EXPECT_EQ(DosTime2FileTime(stamp), 315532800LL * 10000000 + 116444736000000000LL);
         }},
        {"a deleted set matches the checksum it had in use",
         [] {
             exfattest::SetShape shape;
             shape.name = u"A name long enough for two entries.txt";
             shape.deleted = true;
             const std::vector<u8> set = exfattest::MakeSet(shape);
             const u16 stored = ByteReader(set).Le16(exfat::file::kSetChecksum).value();
             EXPECT_TRUE(CheckDirEntry(set.data(), static_cast<unsigned>(set.size()), stored));
             EXPECT_NE(ExFatSetChecksum(ByteReader(set), false), stored) << "only through the restored types";
             EXPECT_FALSE(CheckDirEntry(set.data(), static_cast<unsigned>(set.size()), stored ^ 1));
             shape.deleted = false;
             const std::vector<u8> live = exfattest::MakeSet(shape);
             EXPECT_EQ(ByteReader(live).Le16(exfat::file::kSetChecksum).value(), stored);
             EXPECT_TRUE(CheckDirEntry(live.data(), static_cast<unsigned>(live.size()), stored));
             EXPECT_TRUE(CheckDirEntry(nullptr, 0, 0));
             EXPECT_FALSE(CheckDirEntry(live.data(), 0, stored));
         }},
        {"three folders below the root and none below them: progress of 33, 66 and 100 percent",
         [] {
             exfattest::SyntheticVolume v;
             for (const char16_t* name : {u"one", u"two", u"three"}) v.AddFolder(v.root, name, 1, true);
             auto device = v.Device();
             QuickRun run(device.get());
             std::vector<u64> percents;
             for (const _PROGRESS_INFO& r : run.progress.Records()) {
                 if (r.status == PROGRESS_RUNNING) percents.push_back(r.current * 100 / r.total);
             }
             EXPECT_EQ(percents, (std::vector<u64>{33, 66, 100}));
             EXPECT_EQ(run.progress.Last().status, PROGRESS_FINISHED);
         }},
        {"several empty files in one folder reach the tree builder with distinct IDs",
         [] {
             exfattest::SyntheticVolume v;
             auto folder = v.AddFolder(v.root, u"Empties", 2, true);
             for (char16_t c = u'a'; c <= u'e'; ++c) {
                 exfattest::SetShape shape;
                 shape.name = std::u16string(u"empty ") + c + u".txt";
                 shape.deleted = c == u'e';
                 v.Add(folder, shape);
             }
             auto device = v.Device();
             QuickRun run(device.get());
             std::set<i64> ids;
             for (IFileNode* n : run.builder.m_nodes) {
                 if (!n->IsDirectory()) ids.insert(n->GetCurrentNodeID());
             }
             EXPECT_EQ(ids, (std::set<i64>{0x100000000LL, 0x100000001LL, 0x100000002LL, 0x100000003LL, 0x100000004LL}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.check();
    }
}
