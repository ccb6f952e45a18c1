// The edge cases of the deep NTFS search, one table: candidates and scoring, records and pages cut by
// a block edge, $MFT groups and pairs, restart pages before and after the $LogFile record, torn pages,
// the tree builder's blocks and lost folders, the end step; then the meta-file templates against
// mkntfs, the sector-range store, a failed block read, and the findings' saved forms.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>

#include "NtfsDiskSupport.h"
#include "NtfsLogWriter.h"
#include "engine/FileArchive/RSData.h"
#include "engine/NTFSLib/NTFSDBR.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSSearch/NTFSDirectoryTreeBuilder.h"
#include "engine/NTFSSearch/NTFSPartitionInfoBuilder.h"
#include "engine/NTFSSearch/NTFSUpCaseTable.h"
#include "support/MemoryDevice.h"
#include "support/RecordingProgress.h"

namespace {

using namespace ntfsdeep;

// Zeros of any size, with sectors laid over them.
class OverlayDevice : public IStorageDevice {
public:
    explicit OverlayDevice(i64 sectors) : m_sectors(sectors) {}
    void Put(i64 sector, const std::vector<u8>& bytes) {
        for (size_t at = 0; at < bytes.size(); at += 512) {
            std::vector<u8>& s = m_overlay[sector + i64(at / 512)];
            s.assign(512, 0);
            std::memcpy(s.data(), bytes.data() + at, std::min<size_t>(512, bytes.size() - at));
        }
    }
    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, i64 first, i64 count) override {
        if (first < 0 || count < 0 || first + count > m_sectors) return 0;
        std::memset(buffer, 0, size_t(count) * 512);
        for (auto it = m_overlay.lower_bound(first); it != m_overlay.end() && it->first < first + count; ++it)
            std::memcpy(static_cast<u8*>(buffer) + (it->first - first) * 512, it->second.data(), 512);
        return 1;
    }
    u32 GetSectorSize() override { return 512; }
    i64 GetTotalSectors() override { return m_sectors; }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    u32 GetType() override { return STORAGE_DEVICE_DISK; }
    u64 GetLastError() override { return 0; }

private:
    i64 m_sectors;
    std::map<i64, std::vector<u8>> m_overlay;
};

// Alpha, the first volume of the disk fixture: its records, index block and system-file layout.
struct Alpha {
    std::vector<u8> disk = ntfsdisk::CopyBytes("disk");
    u64 base = u64(ntfsdisk::MmlsPartitions()[0].first) * 512;
    ByteReader boot{disk.data() + base, 512};
    u32 spc = boot.U8(13).value_or(0);
    i64 mftLcn = i64(boot.Le64(48).value_or(0));
    i64 mirrorLcn = i64(boot.Le64(56).value_or(0));
    std::vector<u8> Record(i64 n) const { return ntfslog::RecordAt(disk, base, n); }
    // The record of the first file of that name (the base record of a multi-record file).
    i64 Find(const std::string& name) const {
        for (i64 n = 0; n < 2000; ++n) {
            std::vector<u8> r = Record(n);
            if (r.size() < 1024) break;
            CNTFSFileRecord record(r.data(), 1024, 0);
            if (!record.IsValid()) continue;
            const ByteReader a = record.FindAttibute(ntfs::attr::kFileName, 0);
            if (a.empty()) continue;
            const ByteReader chars = CNTFSFileRecordFileNameAttribute::GetFileName(a);
            std::string text;
            Utf16LeToUtf8(chars.data(), chars.size(), text);
            if (text == name) return n;
        }
        return -1;
    }
    // The first index block of a folder record.
    std::vector<u8> IndexBlock(i64 folder) const {
        std::vector<u8> r = Record(folder);
        CNTFSFileRecord record(r.data(), 1024, 0);
        CNTFSDataRunList runs;
        CNTFSFileRecordDataRunsAttribute::GetDataRunList(record.FindAttibute(ntfs::attr::kIndexAllocation, 0), runs);
        const size_t at = base + size_t(runs.GetLCN(0)) * spc * 512;
        return std::vector<u8>(disk.begin() + i64(at), disk.begin() + i64(at) + 4096);
    }
};

const Alpha& AlphaVolume() {
    static const Alpha alpha;
    return alpha;
}

// A controller over a device, fed with blocks of `block` sectors, its nodes kept by a recording builder.
struct Deep {
    std::unique_ptr<IStorageDevice> device;
    fattest::RecordingTreeBuilder builder;
    CNTFSSearchController controller;
    testsupport::DeepBlockFeeder feeder;
    Deep(std::unique_ptr<IStorageDevice> d, i64 block) : device(std::move(d)), feeder(controller, *device, &builder) {
        feeder.SetBlockSectors(block);
        feeder.Prepare();
    }
    CNTFSPartitionInfoBuilder::Set& Candidates() { return controller.GetPartitionInfoBuilder().Candidates(); }
    // The candidates as (cluster-0 sector, flags).
    std::vector<std::pair<i64, u32>> Flags() {
        std::vector<std::pair<i64, u32>> out;
        for (const auto& c : Candidates()) out.emplace_back(c->m_cluster0Sector, c->GetPartitionBuildFromFlags());
        return out;
    }
    CSearchedNTFSPartitionInfo& Add(i64 cluster0, u32 flags) {
        NTFSCandidate c = BuildPartitionInfoAccordingtoFileRecord(cluster0 + 64, 8, 8, flags, device->GetTotalSectors(), 512);
        CSearchedNTFSPartitionInfo* raw = c.get();
        controller.GetPartitionInfoBuilder().Insert(std::move(c));
        return *raw;
    }
};

std::unique_ptr<OverlayDevice> Zeros(i64 sectors) { return std::make_unique<OverlayDevice>(sectors); }

struct Case {
    const char* name;
    std::function<void()> check;
};

TEST(NtfsDeepEdgeCases, Table) {
    const Alpha& alpha = AlphaVolume();
    // A volume laid out as Alpha with its cluster 0 at 5000: x is the first sector of its $LogFile's data.
    struct LogVolume {
        i64 c0 = 5000;
        i64 x = 0;
        std::unique_ptr<OverlayDevice> device;
    };
    auto logVolume = [&alpha] {
        LogVolume v;
        v.x = v.c0 + ntfslog::RunsOf(alpha.disk, alpha.base, 2).GetLCN(0) * alpha.spc;
        v.device = Zeros(v.x + 100000);
        return v;
    };
    const Case cases[] = {
        {"10/60/40: the first pass keeps all three (the third has a folder match), the second only the 60",
         [] {
             Deep deep(Zeros(100000), 8192);
             deep.Add(1000, kFlagBootCopy);
             deep.Add(2000, kFlagBoot | kFlagMFTPair);
             deep.Add(3000, kFlagBoot | kFlagMFTGroup).m_matchCount2 = 1;
             deep.feeder.End(1);
             ASSERT_EQ(deep.Candidates().size(), 1u);
             const auto& kept = **deep.Candidates().begin();
             EXPECT_EQ(kept.m_cluster0Sector, 2000);
             EXPECT_EQ(kept.m_score, 60);
             EXPECT_EQ(kept.m_partitionStartSector, 2000);
             EXPECT_EQ(kept.m_partitionIndex, 0);
             EXPECT_EQ(kept.m_weight, 1.0);
         }},
        {"the third without a folder match is dropped by the first pass",
         [] {
             Deep deep(Zeros(100000), 8192);
             deep.Add(1000, kFlagBoot | kFlagMFTPair);
             deep.Add(2000, kFlagBoot | kFlagMFTPair);
             deep.Add(3000, kFlagBoot | kFlagMFTGroup);
             deep.feeder.End(1);
             EXPECT_EQ(deep.Candidates().size(), 2u);
         }},
        {"a third confirmed by a boot sector (or its copy) and its $MFT/$MFTMirr pair is kept",
         [] {
             Deep deep(Zeros(100000), 8192);
             deep.Add(1000, kFlagBoot | kFlagMFTPair).m_mftSector = 1040;
             deep.Add(2000, kFlagBoot | kFlagMFTPair).m_mftSector = 2040;
             deep.Add(3000, kFlagBootCopy | kFlagMFTPair).m_mftSector = 3040;
             deep.Add(4000, kFlagBoot | kFlagMFTGroup | kFlagMirrorGroup).m_mftSector = 4040;
             deep.Add(5000, kFlagBootCopy | kFlagMFTGroup).m_mftSector = 5040;
             deep.feeder.End(1);
             ASSERT_EQ(deep.Candidates().size(), 4u);
             EXPECT_EQ((*deep.Candidates().rbegin())->m_cluster0Sector, 4000);
         }},
        {"with one or two candidates nothing is dropped, whatever the scores",
         [] {
             Deep deep(Zeros(100000), 8192);
             deep.Add(1000, kFlagIndex);
             deep.Add(2000, kFlagIndex);
             deep.feeder.End(1);
             ASSERT_EQ(deep.Candidates().size(), 2u);
             EXPECT_EQ((*deep.Candidates().begin())->m_score, 0);
             EXPECT_EQ((*deep.Candidates().begin())->m_weight, 2.0);
         }},
        {"a candidate whose $MFT sector is known survives the second pass with any score",
         [] {
             Deep deep(Zeros(100000), 8192);
             deep.Add(1000, kFlagBoot | kFlagMFTPair);
             deep.Add(2000, kFlagBoot | kFlagMFTPair);
             deep.Add(3000, kFlagBoot | kFlagMFTPair).m_matchCount2 = 1;
             auto& weak = deep.Add(4000, kFlagBootCopy | kFlagMirrorGroup);
             weak.m_matchCount2 = 1;
             weak.m_mftSector = 4040;
             deep.feeder.End(1);
             ASSERT_EQ(deep.Candidates().size(), 4u);
             EXPECT_EQ((*deep.Candidates().rbegin())->m_keep, 1u);
             EXPECT_EQ((*deep.Candidates().rbegin())->m_score, 20);
         }},
        {"EndSearch(0) touches nothing",
         [] {
             Deep deep(Zeros(100000), 8192);
             deep.Add(1000, kFlagIndex);
             deep.Add(2000, kFlagIndex);
             deep.Add(3000, kFlagIndex);
             deep.feeder.End(0);
             EXPECT_EQ(deep.Candidates().size(), 3u);
             EXPECT_EQ((*deep.Candidates().begin())->m_score, 1) << "not scored";
             EXPECT_EQ((*deep.Candidates().begin())->m_attrDefMatches, -1);
             EXPECT_TRUE(deep.controller.GetLogFileAnalyzer()) << "the analysers stay";
             EXPECT_TRUE(deep.builder.m_flashes.empty());
             deep.feeder.End(1);
             EXPECT_FALSE(deep.controller.GetLogFileAnalyzer());
             EXPECT_EQ(deep.builder.m_flashes, std::vector<u32>{SEARCHER_NTFS});
         }},
        {"a structure fewer than 8 sectors after the cluster 0 it implies, or before sector 0, gives none",
         [] {
             EXPECT_TRUE(BuildPartitionInfoAccordingtoFileRecord(100, 2, 4, 1, 1000, 512));
             EXPECT_FALSE(BuildPartitionInfoAccordingtoFileRecord(100, 1, 4, 1, 1000, 512));
             EXPECT_FALSE(BuildPartitionInfoAccordingtoFileRecord(10, 3, 4, 1, 1000, 512));
             EXPECT_FALSE(BuildPartitionInfoAccordingtoFileRecord(100, i64(1) << 62, 128, 1, 1000, 512)) << "overflow";
             auto c = BuildPartitionInfoAccordingtoFileRecord(100, 2, 4, 8, 1000, 512);
             EXPECT_EQ(c->m_cluster0Sector, 92);
             EXPECT_EQ(c->m_clusterCount, (1000 - 92) / 4);
             EXPECT_EQ(c->m_totalSectors, (1000 - 92) / 4 * 4) << "to the end of the device, in whole clusters";
             std::vector<NTFSCandidate> all;
             BuildPartitionInfoAccordingtoFileRecord(2000, 8, 8, 1000000, all, 512);
             ASSERT_EQ(all.size(), 8u) << "every supported cluster size";
             EXPECT_EQ(all.back()->m_sectorsPerCluster, 128u);
         }},
        {"a boot sector whose total exceeds the rest of the device: the whole clusters that fit",
         [&alpha] {
             std::vector<u8> sector(alpha.disk.begin() + i64(alpha.base), alpha.disk.begin() + i64(alpha.base) + 512);
             ByteWriter(sector.data(), 512).Le64(ntfs::boot::kTotalSectors, 1000000);
             CNTFSDBR boot;
             ASSERT_TRUE(boot.InitFromBuffer(sector.data()));
             auto c = BuildPartitionInfoFromDBR(boot, 5000 - 1001, kFlagBoot, 5000, 512);
             ASSERT_TRUE(c);
             EXPECT_EQ(c->m_totalSectors, 1000);
             EXPECT_EQ(c->GetSerialNumber(), boot.GetSerialNumber());
             EXPECT_FALSE(BuildPartitionInfoFromDBR(boot, 4993, kFlagBoot, 5000, 512)) << "7 sectors left";
             EXPECT_FALSE(BuildPartitionInfoFromDBR(boot, -1, kFlagBootCopy, 5000, 512));
         }},
        {"two readings of one volume make one candidate with both flags; 1|2|4 scores 70",
         [] {
             CNTFSPartitionInfoBuilder b;
             b.SetDeviceTotalSectors(100000);
             b.ConfirmLocated(2000 + 64, 8, 8, kFlagBoot);
             b.ConfirmLocated(2000 + 64, 8, 8, kFlagBootCopy);
             b.ConfirmLocated(2000 + 800, 100, 8, kFlagMFTPair);
             ASSERT_EQ(b.Candidates().size(), 1u);
             EXPECT_EQ((*b.Candidates().begin())->GetPartitionBuildFromFlags(), 7u);
             EXPECT_EQ(CalcFileSystemReliabilityScore(**b.Candidates().begin()), 70);
             CSearchedNTFSPartitionInfo probe(**b.Candidates().begin());
             b.Withdraw(probe, 7);
             EXPECT_TRUE(b.Candidates().empty()) << "a candidate left without flags leaves the set";
         }},
        {"scores per flag; the meta-file terms at their thresholds 256, 10,000 and 5",
         [] {
             CSearchedNTFSPartitionInfo c;
             const i64 perFlag[] = {30, 10, 30, 10, 10, 0, 10, 10};
             for (u32 bit = 0; bit < 8; ++bit) {
                 c.SetPartitionBuildFromFlag(1u << bit);
                 EXPECT_EQ(CalcFileSystemReliabilityScore(c), perFlag[bit]) << "flag " << (1u << bit);
             }
             c.SetPartitionBuildFromFlag(0);
             const struct {
                 i64 upCase, log, attrDef, score;
             } terms[] = {{-1, -1, -1, 0},   {255, 9999, 4, 0},        {256, 0, 0, 10}, {0, 10000, 0, 10},
                          {0, 0, 5, 10},     {256 * 5, 10000 * 9, 50, 30}};
             for (const auto& t : terms) {
                 c.m_upCaseMatches = t.upCase;
                 c.m_logFileMatches = t.log;
                 c.m_attrDefMatches = t.attrDef;
                 EXPECT_EQ(CalcFileSystemReliabilityScore(c), t.score) << t.upCase << " " << t.log << " " << t.attrDef;
             }
             c.SetPartitionBuildFromFlag(0xFF);
             EXPECT_EQ(CalcFileSystemReliabilityScore(c), 140) << "every flag and term: 110 + 30, below the cap of 150";
             EXPECT_EQ(ntfs::logrec::kFileRecordAt, 88u) << "\"FILE0\" of a whole record in the log";
             EXPECT_EQ(kMaxListEntries, 500000u);
         }},
        {"a FILE record cut by a block edge is analysed once, at its first sector; a gap drops the held half",
         [&alpha] {
             const std::vector<u8> record = alpha.Record(alpha.Find("deep.bin"));
             auto device = Zeros(4096);
             device->Put(1023, record);
             Deep deep(std::move(device), 1024);
             deep.feeder.FeedAll();
             ASSERT_EQ(deep.controller.GetPositions().size(), 1u);
             EXPECT_EQ(deep.controller.GetPositions().front().GetFileRecordStartSector(), 1023);
             EXPECT_EQ(deep.controller.GetPositions().front().GetFileRecordCount(), 1);
             auto gap = Zeros(4096);
             gap->Put(1023, record);
             Deep apart(std::move(gap), 1024);
             apart.feeder.Feed(0, 1024);
             apart.feeder.Feed(2048, 1024);
             EXPECT_TRUE(apart.controller.GetPositions().empty());
         }},
        {"an index block cut by a block edge is joined with the next block's sectors; a gap drops it",
         [&alpha] {
             const std::vector<u8> block = alpha.IndexBlock(alpha.Find("Many"));
             auto device = Zeros(4096);
             device->Put(1020, block);
             Deep deep(std::move(device), 1024);
             deep.feeder.FeedAll();
             ASSERT_EQ(deep.controller.GetIndexRecords().size(), 1u);
             EXPECT_EQ(deep.controller.GetIndexRecords().begin()->sector, 1020);
             EXPECT_EQ(deep.controller.GetIndexRecords().begin()->parent, alpha.Find("Many"));
             auto gap = Zeros(4096);
             gap->Put(1020, block);
             Deep apart(std::move(gap), 1024);
             apart.feeder.Feed(0, 1024);
             apart.feeder.Feed(2048, 1024);
             EXPECT_TRUE(apart.controller.GetIndexRecords().empty());
         }},
        {"an $MFT record followed by an ordinary record: a single-$MFT candidate (flag 8), no $Bitmap size",
         [&alpha] {
             const i64 m = 50000;
             auto device = Zeros(200000);
             device->Put(m, alpha.Record(0));
             device->Put(m + 2, alpha.Record(alpha.Find("deep.bin")));
             Deep deep(std::move(device), 8192);
             deep.feeder.FeedAll();
             EXPECT_EQ(deep.Flags(), (std::vector<std::pair<i64, u32>>{{m - alpha.mftLcn * alpha.spc, kFlagMFTGroup}}));
             const auto& c = **deep.Candidates().begin();
             EXPECT_EQ(c.m_mftSector, m);
             EXPECT_EQ(c.m_adjustedSectors, -1);
             EXPECT_EQ(c.m_totalSectors, (200000 - c.m_cluster0Sector) / alpha.spc * alpha.spc);
         }},
        {"a group of records 0 to 8 with its mirror copy after it: flag 4, the mirror adds no candidate",
         [&alpha] {
             const i64 c0 = 3000;
             const i64 m = c0 + alpha.mftLcn * alpha.spc;
             const i64 bitmapClusters = ntfsdisk::FsstatOf(1).clusters;
             auto device = Zeros(c0 + (bitmapClusters + 1000) * alpha.spc);
             for (i64 n = 0; n <= 8; ++n) device->Put(m + 2 * n, alpha.Record(n));
             const i64 mirror = c0 + alpha.mirrorLcn * alpha.spc;
             const u64 mirrorAt = alpha.base + u64(alpha.mirrorLcn) * alpha.spc * 512;
             device->Put(mirror, std::vector<u8>(alpha.disk.begin() + i64(mirrorAt), alpha.disk.begin() + i64(mirrorAt) + 4096));
             Deep deep(std::move(device), 8192);
             deep.feeder.FeedAll();
             EXPECT_EQ(deep.Flags(), (std::vector<std::pair<i64, u32>>{{c0, kFlagMFTPair}}));
             const auto& c = **deep.Candidates().begin();
             EXPECT_EQ(c.m_clusterCount, (bitmapClusters + 63) / 64 * 64) << "from $Bitmap (whole bytes of bits)";
             EXPECT_EQ(c.m_adjustedSectors, c.m_clusterCount * alpha.spc);
             EXPECT_EQ(deep.controller.GetMFTInfos().size(), 2u);
         }},
        {"restart pages found before the $LogFile record: the record gives flags 192",
         [&] {
             LogVolume v = logVolume();
             v.device->Put(v.x, ntfslog::RestartPage());
             v.device->Put(v.x + 8, ntfslog::RestartPage());
             v.device->Put(v.x + 1000, alpha.Record(2));
             Deep deep(std::move(v.device), 8192);
             deep.feeder.FeedAll();
             EXPECT_EQ(deep.Flags(), (std::vector<std::pair<i64, u32>>{{v.c0, kFlagRestart1 | kFlagRestart2}}));
         }},
        {"restart pages after the $LogFile record: 64|128 for the volume, 128 for a cluster 0 8 sectors earlier",
         [&] {
             LogVolume v = logVolume();
             v.device->Put(v.c0 + 100, alpha.Record(2));
             v.device->Put(v.x, ntfslog::RestartPage());
             v.device->Put(v.x + 8, ntfslog::RestartPage());
             Deep deep(std::move(v.device), 8192);
             deep.feeder.FeedAll();
             EXPECT_EQ(deep.Flags(), (std::vector<std::pair<i64, u32>>{{v.c0 - 8, kFlagRestart2},
                                                                       {v.c0, kFlagRestart1 | kFlagRestart2}}));
         }},
        {"a torn restart page is none; a torn record page records nothing and the walk skips its 8 sectors",
         [&] {
             LogVolume v = logVolume();
             v.device->Put(v.c0 + 100, alpha.Record(2));
             v.device->Put(v.x, ntfslog::RestartPage(true));
             // A torn page whose sectors 3 to 7 begin a whole page: the whole page is never looked at.
             std::vector<u8> torn(11 * 512, 0);
             const std::vector<u8> whole = ntfslog::LogPage({}, 0, 0);
             std::memcpy(torn.data() + 3 * 512, whole.data(), whole.size());
             const std::vector<u8> head = ntfslog::LogPage({}, 0, 0);
             std::memcpy(torn.data(), head.data(), 3 * 512);
             ntfslog::PutInto(torn).Le16(512 + 510, 9);
             v.device->Put(v.x + 64, torn);
             Deep deep(std::move(v.device), 8192);
             deep.feeder.FeedAll();
             EXPECT_TRUE(deep.Candidates().empty());
             EXPECT_EQ(deep.controller.GetLogFileAnalyzer()->Store().RangeCount(), 0u);
             EXPECT_TRUE(deep.controller.GetLogFileAnalyzer()->Restarts().empty());
         }},
        {"a record page cut by a block edge is recorded once, at its real 8 sectors",
         [] {
             auto device = Zeros(4096);
             device->Put(1021, ntfslog::LogPage({}, 0, 0));
             Deep deep(std::move(device), 1024);
             deep.feeder.FeedAll();
             const CMetaFileAnalyzer& store = deep.controller.GetLogFileAnalyzer()->Store();
             EXPECT_EQ(store.RangeCount(), 1u);
             EXPECT_EQ(store.GetSectorRangeCount(0, 4095), 8u);
             EXPECT_EQ(store.GetSectorRangeCount(1021, 1028), 8u);
         }},
        {"records filling 300 sectors are read in blocks of 128, 128 and 44; with a progress sink, one block",
         [] {
             OverlayDevice device(2000);
             std::list<CCommonFileRecordPositionInfo> positions;
             CCommonFileRecordPositionInfo run(1100);
             for (i64 s = 1102; s < 1400; s += 2) run.Merge(s);
             positions.push_back(run);
             std::list<CMFTInfo*> tables;
             std::vector<FindFileMFTAndLogx> logs;
             CNTFSIntelligentSearchInfo info;
             info.Init(&tables, &positions, &logs);
             CSearchedNTFSPartitionInfo candidate;
             candidate.m_cluster0Sector = 1000;
             candidate.m_sectorsPerCluster = 8;
             candidate.m_totalSectors = 400;
             fattest::RecordingTreeBuilder builder;
             CNTFSDirectoryTreeBuilder trees;
             trees.BuildDirectoryTree(&info, &candidate, &device, 0, nullptr, &builder);
             EXPECT_TRUE(trees.IsDone());
             EXPECT_EQ(trees.ReadBlocks(), (std::vector<std::pair<i64, u32>>{{1100, 128}, {1228, 128}, {1356, 44}}));
             testsupport::RecordingProgress progress;
             trees.BuildDirectoryTree(&info, &candidate, &device, 0, &progress, &builder);
             EXPECT_EQ(trees.ReadBlocks().size(), 1u);
             CSearchedPartitionInfo plain;
             EXPECT_EQ(trees.BuildDirectoryTree(&info, &plain, &device, 0, nullptr, &builder), nullptr);
             EXPECT_TRUE(trees.IsDone()) << "not an NTFS candidate: only done";
         }},
        {"lost folders: below 25 not handed over, from 25 with their children; a file whose parent record "
         "is missing, holds a file, names the file itself or was refused goes over as a lost file (without a "
         "parent but in the refused case); cycles end; with a progress sink, one folder",
         [] {
             auto entry = [](i64 number, i64 parent, bool folder) {
                 CNTFSRecordEntry e;
                 e.info.SetMFTFileRecordNumber(number);
                 e.info.SetFileRecordNumberofParentDirectory(parent);
                 CNTFSFilePropertiesStruct s;
                 s.name = "n" + std::to_string(number);
                 s.attribute = folder ? ntfsattr::kDirectory : 0;
                 s.fileSize = folder ? 0 : 10;
                 e.properties.reset(CNTFSFileProperties::Create());
                 e.properties->Init(s);
                 return e;
             };
             auto records = [&] {
                 CNTFSRecordEntries r;
                 r.push_back(entry(40, 20, true));   // below 25
                 r.push_back(entry(45, 40, false));  // its child
                 r.push_back(entry(41, 30, true));   // lost folder
                 r.push_back(entry(50, 41, false));
                 r.push_back(entry(42, 41, true));
                 r.push_back(entry(51, 42, false));
                 r.push_back(entry(52, 999, false));  // no folder
                 r.push_back(entry(53, 54, false));   // its parent record holds a file
                 r.push_back(entry(54, 20, false));   //   (below a system record: not handed over)
                 r.push_back(entry(55, 55, false));   // names itself
                 r.push_back(entry(56, -1, false));   // no parent (a reference that no longer holds)
                 r.push_back(entry(57, 70, false));   // in a folder the tree builder refuses
                 r.push_back(entry(70, 30, true));
                 r.push_back(entry(60, 61, true));     // a cycle
                 r.push_back(entry(61, 60, true));
                 return r;
             };
             fattest::RecordingTreeBuilder builder;
             builder.m_refuse = [](IFileNode* n) { return n->GetCurrentNodeID() == 70; };
             builder.AddSearcherInfo(SEARCHER_NTFS, 5);
             auto all = records();
             CMFTDirectoryTreeBuilder(&builder, 3, 0, 8, nullptr).BuildLostFiles(all);
             std::set<i64> handed;
             std::map<i64, i64> parents;
             for (IFileNode* n : builder.m_nodes) {
                 handed.insert(n->GetCurrentNodeID());
                 parents[n->GetCurrentNodeID()] = n->GetParentNodeID();
                 EXPECT_EQ(dynamic_cast<CFileNode*>(n)->GetBelongedPartition(), 3);
             }
             EXPECT_EQ(handed, (std::set<i64>{41, 50, 42, 51, 52, 53, 55, 56, 57, 60, 61}));
             for (const i64 lost : {52, 53, 55, 56}) EXPECT_EQ(parents.at(lost), -1) << lost;
             EXPECT_EQ(parents.at(57), 70);
             fattest::RecordingTreeBuilder one;
             one.AddSearcherInfo(SEARCHER_NTFS, 5);
             testsupport::RecordingProgress progress;
             auto again = records();
             CMFTDirectoryTreeBuilder(&one, 0, 0, 8, &progress).BuildLostFiles(again);
             std::set<i64> first;
             for (IFileNode* n : one.m_nodes) first.insert(n->GetCurrentNodeID());
             EXPECT_EQ(first, (std::set<i64>{41, 50, 42}));
         }},
        {"lost-files folders are named LostFiles1, LostFiles2, ...; no node stands for a volume",
         [] {
             CNTFSLostFilesFolderNodeBuilder folders;
             CNTFSFileNode* first = folders.CreateLostFilesFileNode();
             CNTFSFileNode* second = folders.CreateLostFilesFileNode();
             EXPECT_STREQ(first->GetFileName(), "LostFiles1");
             EXPECT_STREQ(second->GetFileName(), "LostFiles2");
             EXPECT_EQ(folders.GetLostFilesFolderCount(), 2);
             // Each build counts its own: another starts at 1, and a reset starts this one again.
             CNTFSLostFilesFolderNodeBuilder other;
             CNTFSFileNode* third = other.CreateLostFilesFileNode();
             EXPECT_STREQ(third->GetFileName(), "LostFiles1");
             third->Release();
             folders.ResetLostFilesFolderCount();
             EXPECT_EQ(folders.GetLostFilesFolderCount(), 0);
             EXPECT_TRUE(first->IsDirectory());
             first->Release();
             second->Release();
             EXPECT_EQ(CNTFSFileSystemNodeBuilder::CreateNTFSFileSystemNode(0, 8, 0), nullptr);
         }},
        {"record numbers through a table's runs",
         [] {
             CMFTInfo table;
             // Clusters 100..103 then 200..201 (8 sectors each): records of 2 sectors.
             const std::vector<u8> pairs = {0x11, 0x04, 0x64, 0x11, 0x02, 0x64, 0x00};
             table.GetDataRunList().InitFromBuffer(pairs.data(), int(pairs.size()));
             EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(1000 + 100 * 8, &table, 1000, 8), 0);
             EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(1000 + 100 * 8 + 6, &table, 1000, 8), 3);
             EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(1000 + 200 * 8 + 2, &table, 1000, 8), 17);
             EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(1000 + 100 * 8 + 1, &table, 1000, 8), -1) << "odd";
             EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(1000 + 150 * 8, &table, 1000, 8), -1) << "no run";
             EXPECT_EQ(CMFTDirectoryTreeBuilder::GetMFTNumber(999, &table, 1000, 8), -1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check();
    }
}

// mkntfs's $AttrDef equals the 15-row template exactly; its $UpCase counts (99 % of its entries agree
// with the generated table), a table with a few hundred more disagreeing entries does not; a zeroed
// disk records nothing.
TEST(NtfsDeepMetaFiles, TemplatesAgainstMkntfs) {
    const Alpha& alpha = AlphaVolume();
    auto dataOf = [&](i64 n, size_t bytes) {
        const CNTFSDataRunList runs = ntfslog::RunsOf(alpha.disk, alpha.base, n);
        std::vector<u8> out;
        for (const CDataRun& run : runs.Runs()) {
            const size_t at = alpha.base + size_t(run.lcn) * alpha.spc * 512;
            out.insert(out.end(), alpha.disk.begin() + i64(at), alpha.disk.begin() + i64(at + size_t(run.length) * alpha.spc * 512));
        }
        out.resize(bytes);
        return out;
    };
    const std::vector<u8> attrDef = dataOf(4, 2560);
    EXPECT_EQ(std::memcmp(attrDef.data(), CAttrDefFileAnalyzer::Template().data(), 2560), 0);
    const std::vector<u8> upCase = dataOf(10, 131072);
    const auto& table = UP_CASE_FILE_CONTENTS_DEFINE();
    u32 disagree = 0, identity = 0;
    for (u32 c = 0; c < kUpCaseEntries; ++c) {
        const u16 v = ByteReader(upCase.data(), upCase.size()).Le16(2 * size_t(c)).value_or(0);
        disagree += v != table[c];
        identity += table[c] == c;
    }
    EXPECT_EQ(disagree, 217u);
    EXPECT_LE(disagree * 100, kUpCaseEntries * (100 - CUpCaseFileAnalyzer::kAgreementPercent));
    EXPECT_EQ(kUpCaseEntries - identity, 1190u) << "the simple upper-case mappings of the BMP";
    EXPECT_EQ(table[0x61], 0x41);
    EXPECT_EQ(table[0xFF], 0x178);
    EXPECT_EQ(table[0x3B1], 0x391);
    EXPECT_EQ(table[0xFF41], 0xFF21);

    // The $UpCase of a volume laid out as Alpha's (its record and data), with `extra` more entries changed.
    auto upCaseCount = [&](u32 extra) {
        const i64 c0 = 1000;
        const CNTFSDataRunList runs = ntfslog::RunsOf(alpha.disk, alpha.base, 10);
        const i64 at = c0 + runs.GetLCN(0) * alpha.spc;
        auto device = Zeros(at + 1000);
        std::vector<u8> data = upCase;
        for (u32 k = 0; k < extra; ++k) data[2 * ((k * 83) % kUpCaseEntries) + 1] ^= 0x55;
        device->Put(at, data);
        device->Put(c0 + alpha.mftLcn * alpha.spc + 20, alpha.Record(10));
        CSearchedNTFSPartitionInfo candidate;
        candidate.m_cluster0Sector = c0;
        candidate.m_sectorsPerCluster = alpha.spc;
        candidate.m_totalSectors = at + 1000 - c0;
        candidate.m_mftSector = c0 + alpha.mftLcn * alpha.spc;
        Deep deep(std::move(device), 8192);
        deep.feeder.FeedAll();
        deep.controller.GetUpCaseAnalyzer()->CalcUpcaseMatch(candidate);
        EXPECT_EQ(candidate.m_upCaseSector, candidate.m_mftSector + 20);
        return candidate.m_upCaseMatches;
    };
    EXPECT_GE(upCaseCount(0), kUpCaseThreshold);
    EXPECT_LT(upCaseCount(700), kUpCaseThreshold) << "217 + 700 disagreeing entries: below 99 %";

    Deep zeros(Zeros(20000), 8192);
    zeros.feeder.FeedAll();
    EXPECT_EQ(zeros.controller.GetAttrDefAnalyzer()->Store().RangeCount(), 0u);
    EXPECT_EQ(zeros.controller.GetUpCaseAnalyzer()->Store().RangeCount(), 0u);
}

// The quick tests that spare nearly every sector the template compares: every $AttrDef template
// sector passes the first-word test, and the $UpCase test names the same template sector as the full
// vote of its four high bytes for every pattern of those bytes (equal or not, with the table's low
// bytes or others).
TEST(NtfsDeepMetaFiles, QuickSectorTestsRefuseOnlyWhatTheFullTestsRefuse) {
    const auto& attrDef = CAttrDefFileAnalyzer::Template();
    for (u32 k = 0; k < CAttrDefFileAnalyzer::kTemplateSectors; ++k) {
        const ByteReader sector(attrDef.data() + size_t(k) * 512, 512);
        EXPECT_TRUE(CAttrDefFileAnalyzer::MayMatch(sector, sector.Le64(0).value_or(1))) << k;
        CAttrDefFileAnalyzer one;
        one.AnalyzeSectorBuffer(100 + k, attrDef.data() + size_t(k) * 512);
        EXPECT_EQ(one.Store().RangeCount(), 1u) << k;
    }
    const std::array<u8, 512> zeros{};
    EXPECT_FALSE(CAttrDefFileAnalyzer::MayMatch(ByteReader(zeros.data(), 512), 0));
    for (const u64 head : {u64{1}, u64{0x454C4946}, ~u64{0}, u64{0x0024}})
        EXPECT_FALSE(CAttrDefFileAnalyzer::MayMatch(ByteReader(zeros.data(), 512), head)) << head;

    const auto& table = UP_CASE_FILE_CONTENTS_DEFINE();
    // The vote as it reads: a high byte shared by three of units 0, 64, 192 and 255, then two of them
    // agreeing with that sector of the table.
    auto vote = [&](const u8* b) {
        const u8 h[4] = {b[1], b[129], b[385], b[511]};
        for (int i = 0; i < 2; ++i) {
            int same = 0;
            for (int j = 0; j < 4; ++j) same += h[j] == h[i];
            if (same < 3) continue;
            const u16* model = table.data() + size_t(h[i]) * 256;
            const ByteReader r(b, 512);
            const int agree = (r.Le16(0) == model[0]) + (r.Le16(128) == model[64]) + (r.Le16(384) == model[192]) +
                              (r.Le16(510) == model[255]);
            return agree >= 2 ? int(h[i]) : -1;
        }
        return -1;
    };
    const u8 highs[] = {0x00, 0x01, 0x10, 0xFF};
    int named = 0, cases = 0;
    for (int pattern = 0; pattern < 256; ++pattern) {
        for (const bool tableLows : {true, false}) {
            std::array<u8, 512> b{};
            const size_t units[4] = {0, 64, 192, 255};
            for (int j = 0; j < 4; ++j) {
                const u8 high = highs[(pattern >> (2 * j)) & 3];
                const u16 model = table[size_t(high) * 256 + units[j]];
                b[2 * units[j]] = tableLows ? u8(model) : u8(model + 1);
                b[2 * units[j] + 1] = high;
            }
            const int expected = vote(b.data());
            EXPECT_EQ(CUpCaseFileAnalyzer::TemplateSectorOf(b.data()), expected) << pattern << " " << tableLows;
            named += expected >= 0;
            ++cases;
        }
    }
    EXPECT_EQ(cases, 512);
    EXPECT_GT(named, 20);
    for (u32 k = 0; k < 256; ++k) {
        std::array<u8, 512> b{};
        for (u32 i = 0; i < 256; ++i) ByteWriter(b.data(), 512).Le16(2 * i, table[size_t(k) * 256 + i]);
        EXPECT_EQ(CUpCaseFileAnalyzer::TemplateSectorOf(b.data()), int(k)) << k;
    }

    // Template sectors damaged where the quick tests read: whenever the sector test calls a sector
    // quiet, the analysers' own tests record nothing of it, and it answers as the tests one by one.
    int recorded = 0, quiet = 0;
    auto check = [&](const u8* b, const std::string& what) {
        const bool isQuiet = CNTFSSearchController::IsQuietSector(b);
        EXPECT_EQ(isQuiet, CNTFSSearchController::HasNoMark(b)) << what;
        CAttrDefFileAnalyzer attrDefs;
        CUpCaseFileAnalyzer upCases;
        attrDefs.AnalyzeSectorBuffer(7, b);
        upCases.AnalyzeSectorBuffer(7, b);
        const bool taken = attrDefs.Store().RangeCount() + upCases.Store().RangeCount() > 0;
        if (isQuiet) {
            EXPECT_FALSE(taken) << what;
        }
        recorded += taken;
        quiet += isQuiet;
    };
    const size_t voteUnits[4] = {0, 64, 192, 255};
    for (u32 k = 0; k < 256; ++k) {
        std::array<u8, 512> model{};
        for (u32 i = 0; i < 256; ++i) ByteWriter(model.data(), 512).Le16(2 * i, table[size_t(k) * 256 + i]);
        check(model.data(), "up-case sector " + std::to_string(k));
        // Each vote unit, and each pair of them, with another high byte, with another low byte, or zero.
        for (int mask = 1; mask < 16; ++mask) {
            if (__builtin_popcount(mask) > 2) continue;
            for (int how = 0; how < 3; ++how) {
                std::array<u8, 512> b = model;
                for (int j = 0; j < 4; ++j) {
                    if (!(mask >> j & 1)) continue;
                    u8* unit = b.data() + 2 * voteUnits[j];
                    if (how == 0) unit[1] ^= 0x80;
                    if (how == 1) unit[0] ^= 0x01;
                    if (how == 2) unit[0] = unit[1] = 0;
                }
                check(b.data(), "up-case sector " + std::to_string(k) + " units " + std::to_string(mask) + " damage " +
                                    std::to_string(how));
            }
        }
    }
    for (u32 k = 0; k < CAttrDefFileAnalyzer::kTemplateSectors; ++k) {
        const u8* model = attrDef.data() + size_t(k) * 512;
        check(model, "$AttrDef sector " + std::to_string(k));
        // Each word zeroed, and each word's first byte changed.
        for (size_t at = 0; at < 512; at += 8) {
            for (int how = 0; how < 2; ++how) {
                std::array<u8, 512> b{};
                std::memcpy(b.data(), model, 512);
                if (how == 0) std::memset(b.data() + at, 0, 8);
                if (how == 1) b[at] ^= 0x01;
                check(b.data(), "$AttrDef sector " + std::to_string(k) + " word " + std::to_string(at) + " damage " +
                                    std::to_string(how));
            }
        }
    }
    EXPECT_GT(recorded, 256 + 5) << "the templates and the sectors damaged in one unit or a zero word";
    EXPECT_GT(quiet, 500);
}

// Zeroed and filled sectors are answered from a table by byte value: the answer must be the one the
// tests give one by one, for every value, with a mark planted in such a sector, and for sectors that
// hold one value only where the tests read.
TEST(NtfsDeepMetaFiles, FilledSectorsAreAnsweredAsTheTestsAnswer) {
    using C = CNTFSSearchController;
    std::array<u8, 512> b{};
    for (int value = 0; value < 256; ++value) {
        b.fill(u8(value));
        EXPECT_EQ(C::IsQuietSector(b.data()), C::HasNoMark(b.data())) << value;
        EXPECT_TRUE(C::IsQuietSector(b.data())) << value << ": no filled sector holds a mark";
    }
    // A mark planted in a zeroed or filled sector: pieces of (offset, bytes).
    const auto& table = UP_CASE_FILE_CONTENTS_DEFINE();
    using Piece = std::pair<size_t, std::vector<u8>>;
    std::vector<std::vector<Piece>> marks = {{{0, {'F', 'I', 'L', 'E'}}}, {{0, {'I', 'N', 'D', 'X'}}},
                                             {{0, {'R', 'S', 'T', 'R'}}}, {{3, {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '}}}};
    for (const CAttrDefFileAnalyzer::Key& key : CAttrDefFileAnalyzer::kKeys) {
        std::vector<u8> bytes(8);
        ByteWriter(bytes.data(), 8).Le64(0, key.value);
        // The keys past the first eight bytes name a sector that starts with zeros.
        marks.push_back(key.offset == 0 ? std::vector<Piece>{{0, bytes}} : std::vector<Piece>{{0, std::vector<u8>(8, 0)}, {key.offset, bytes}});
    }
    // $UpCase sector 0: three of its vote units.
    std::vector<Piece> upcase;
    for (const size_t unit : {size_t(0), size_t(64), size_t(192)}) upcase.push_back({2 * unit, {u8(table[unit]), u8(table[unit] >> 8)}});
    marks.push_back(upcase);
    for (const u8 fill : {u8(0), u8(0xFF), u8(0x20), u8(0x46)}) {
        for (size_t m = 0; m < marks.size(); ++m) {
            b.fill(fill);
            for (const auto& [offset, bytes] : marks[m]) std::memcpy(b.data() + offset, bytes.data(), bytes.size());
            EXPECT_FALSE(C::HasNoMark(b.data())) << int(fill) << ", mark " << m;
            EXPECT_FALSE(C::IsQuietSector(b.data())) << int(fill) << ", mark " << m;
        }
    }
    // Random bytes, then the same with one value written wherever the tests read.
    u32 seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 512; ++round) {
        for (u8& byte : b) byte = u8(next() >> 16);
        EXPECT_EQ(C::IsQuietSector(b.data()), C::HasNoMark(b.data())) << round;
        const u8 fill = u8(round);
        std::memset(b.data(), fill, 11);
        for (const CAttrDefFileAnalyzer::Key& key : CAttrDefFileAnalyzer::kKeys) std::memset(b.data() + key.offset, fill, 8);
        for (const size_t unit : {size_t(128), size_t(384), size_t(510)}) std::memset(b.data() + unit, fill, 2);
        EXPECT_EQ(C::IsQuietSector(b.data()), C::HasNoMark(b.data())) << round;
    }
}

// Log record pages are looked for in the sector loop: the sectors recorded are those of each whole
// page found where a walk from the block's start (or past the last page taken) meets it, with 512- and
// 4096-byte sectors and blocks that cut pages.
TEST(NtfsDeepLogPages, TheSectorLoopTakesEveryPageWhereTheWalkMeetsIt) {
    const std::vector<u8> page = ntfslog::LogPage({}, 0, 0);
    std::vector<u8> torn = page;
    ntfslog::PutInto(torn).Le16(510, 9);  // its first sector's update sequence number
    struct Planted {
        i64 sector;
        bool whole;  // false: a torn page
    };
    struct Row {
        const char* name;
        u32 sectorSize;
        i64 sectors;
        i64 block;
        std::vector<Planted> pages;
        std::vector<std::pair<i64, i64>> expected;  // recorded runs (first, count)
    };
    const std::vector<Row> rows = {
        {"pages inside a block, one right after another", 512, 3000, 1024, {{100, true}, {108, true}, {400, true}},
         {{100, 16}, {400, 8}}},
        {"a page planted 3 sectors into another is never looked at", 512, 3000, 1024, {{200, true}, {203, true}},
         {{200, 8}}},
        {"a torn page records nothing and the walk skips its 8 sectors", 512, 3000, 1024,
         {{300, false}, {301, true}, {309, true}}, {{309, 8}}},
        {"pages cut by block edges, one starting on a block's last sector", 512, 3000, 1024,
         {{1020, true}, {2047, true}, {2055, true}}, {{1020, 8}, {2047, 16}}},
        {"a page in the block after a cut one that the block's start completes", 512, 3000, 1024,
         {{1021, true}, {1029, true}, {1500, true}}, {{1021, 16}, {1500, 8}}},
        {"a page cut by the device's end is not taken", 512, 3000, 1024, {{2996, true}}, {}},
        {"a torn page cut by a block edge", 512, 3000, 1024, {{1020, false}, {1030, true}}, {{1030, 8}}},
        {"blocks of 37 sectors", 512, 400, 37, {{30, true}, {70, true}, {111, false}, {148, true}},
         {{30, 8}, {70, 8}, {148, 8}}},
        {"4096-byte sectors: a page is one sector", 4096, 200, 37,
         {{0, true}, {36, true}, {37, true}, {50, false}, {199, true}}, {{0, 1}, {36, 2}, {199, 1}}},
    };
    for (const Row& row : rows) {
        auto device = std::make_unique<testsupport::MemoryDevice>(row.sectors, row.sectorSize, STORAGE_DEVICE_DISK);
        for (const Planted& p : row.pages) {
            const std::vector<u8>& bytes = p.whole ? page : torn;
            const u64 at = u64(p.sector) * row.sectorSize;
            device->Put(at, bytes.data(), std::min<size_t>(bytes.size(), size_t(row.sectors * row.sectorSize - at)));
        }
        Deep deep(std::move(device), row.block);
        deep.feeder.FeedAll();
        const CMetaFileAnalyzer& store = deep.controller.GetLogFileAnalyzer()->Store();
        std::vector<bool> expected(size_t(row.sectors), false);
        for (const auto& [first, count] : row.expected)
            for (i64 s = first; s < first + count; ++s) expected[size_t(s)] = true;
        for (i64 s = 0; s < row.sectors; ++s)
            EXPECT_EQ(store.GetSectorRangeCount(u64(s), u64(s)), expected[size_t(s)] ? 1u : 0u) << row.name << ", sector " << s;
        EXPECT_EQ(store.RangeCount(), row.expected.size()) << row.name;
        // The walk of whole blocks in memory, on its own, takes the same pages.
        CNTFSPartitionInfoBuilder builder;
        builder.SetSectorSize(row.sectorSize);
        CLogFileAnalyzer alone(builder);
        std::vector<u8> block(size_t(row.block) * row.sectorSize);
        for (i64 first = 0; first < row.sectors; first += row.block) {
            const i64 count = std::min(row.block, row.sectors - first);
            ASSERT_TRUE(deep.device->ReadSector(block.data(), first, count));
            alone.AnalyzeRCRDRecord(block.data(), first, count, row.sectorSize);
        }
        for (i64 s = 0; s < row.sectors; ++s)
            EXPECT_EQ(alone.Store().GetSectorRangeCount(u64(s), u64(s)), expected[size_t(s)] ? 1u : 0u)
                << row.name << ", sector " << s << " (blocks in memory)";
    }
}

TEST(NtfsDeepMetaFiles, SectorRanges) {
    CMetaFileAnalyzer store;
    for (u64 s : {10, 11, 12, 20, 13, 5, 21, 15, 14, 11}) store.CombineSectorOfRange(s);
    // 5, 10..15, 20..21: out-of-order sectors take their place, a sector seen twice counts once.
    EXPECT_EQ(store.RangeCount(), 3u);
    EXPECT_EQ(store.GetSectorRangeCount(0, 100), 9u);
    EXPECT_EQ(store.GetSectorRangeCount(11, 20), 6u);
    EXPECT_EQ(store.GetSectorRangeCount(16, 19), 0u);
    CNTFSDataRunList runs;
    runs.AddRun({2, 0, 1});   // sectors 10..14 with cluster 0 at 0 and 5 sectors per cluster (the end inclusive)
    runs.AddRun({-1, 1, 9});  // sparse: nothing
    EXPECT_EQ(store.GetMatchCount(runs, 0, 5), 6);
}

// A block whose read fails is not analysed: the buffer still holds the block before it, whose boot
// sector would otherwise give a second volume 8192 sectors further on.
TEST(NtfsDeepController, AFailedBlockReadAddsNoCandidate) {
    const Alpha& alpha = AlphaVolume();
    auto device = std::make_unique<testsupport::MemoryDevice>(i64(4 * 8192), 512, STORAGE_DEVICE_DISK);
    device->Put(2048 * 512, alpha.disk.data() + alpha.base, 512);
    device->SetFailHook([](i64 first, i64) { return first == 8192; });
    Deep deep(std::move(device), 8192);
    deep.feeder.FeedAll();
    EXPECT_EQ(deep.Flags(), (std::vector<std::pair<i64, u32>>{{2048, kFlagBoot}}));
    EXPECT_EQ(deep.controller.FailedBlocks(), 1u);
    EXPECT_EQ(deep.controller.AnalyzedBlocks(), 3u);
}

// Broken preconditions are refused without harm; the candidates are handed out as copies.
TEST(NtfsDeepController, PreconditionsAndHandedOutCopies) {
    CNTFSSearchController idle;
    EXPECT_EQ(idle.PreparetoSearch(), 0) << "no block size";
    idle.SetBlockSize(0);
    EXPECT_EQ(idle.AnalyzeBlock(0, 8), 1);
    EXPECT_EQ(idle.EndSearch(1), 1);
    EXPECT_EQ(idle.GetSearchedPartitionInfo(nullptr, 0), 0);
    testsupport::MemoryDevice big(i64(16), 8192, STORAGE_DEVICE_DISK);
    idle.SetDevice(&big);
    idle.SetBlockSize(8);
    EXPECT_EQ(idle.PreparetoSearch(), 0) << "sectors above 4096 bytes";

    Deep deep(Zeros(100000), 8192);
    deep.Add(1000, kFlagBoot);
    deep.Add(2000, kFlagBoot);
    EXPECT_EQ(deep.controller.AnalyzeBlock(0, 8193), 1) << "a block larger than set is refused";
    EXPECT_EQ(deep.controller.GetSearchedPartitionInfo(nullptr, 0), 2);
    CSearchedPartitionInfo* out[2] = {};
    EXPECT_EQ(deep.controller.GetSearchedPartitionInfo(out, 1), 0);
    EXPECT_EQ(deep.controller.GetSearchedPartitionInfo(out, 2), 2);
    ASSERT_TRUE(dynamic_cast<CSearchedNTFSPartitionInfo*>(out[1]));
    EXPECT_EQ(out[1]->m_cluster0Sector, 2000);
    EXPECT_NE(out[1], deep.Candidates().rbegin()->get());
    delete out[0];
    delete out[1];
}

// The findings in the framed file, lightly (no step of a scan saves or loads them).
TEST(NtfsDeepController, FindingsSaveAndRestore) {
    testsupport::TempDir dir;
    const std::string path = (dir / "findings.rs").string();
    const tagGUIDSIGN tag{{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6}};
    const Alpha& alpha = AlphaVolume();
    auto device = Zeros(200000);
    const i64 m = 50000;
    for (i64 n = 0; n <= 3; ++n) device->Put(m + 2 * n, alpha.Record(n));
    Deep deep(std::move(device), 8192);
    deep.feeder.FeedAll();
    ASSERT_EQ(deep.controller.GetMFTInfos().size(), 1u);
    ntfstest::WriteFrame(path, tag, [&](CRSData& rs) {
        EXPECT_TRUE(deep.controller.SaveMFTInfoContainer(rs));
        EXPECT_TRUE(deep.controller.SaveCommonFileRecordPositionInfo(rs));
    });
    CNTFSSearchController back;
    ASSERT_TRUE(ntfstest::ReadFrame(path, tag, [&](CRSData& rs) {
        EXPECT_TRUE(back.RestoreMFTInfoContainer(rs));
        EXPECT_TRUE(back.RestoreCommonFileRecordPositionInfo(rs));
    }));
    ASSERT_EQ(back.GetMFTInfos().size(), 1u);
    EXPECT_EQ(back.GetMFTInfos().front()->GetSectorAddress(), m);
    EXPECT_TRUE(back.GetMFTInfos().front()->GetDataRunList().IsEqual(deep.controller.GetMFTInfos().front()->GetDataRunList()));
    ASSERT_EQ(back.GetPositions().size(), deep.controller.GetPositions().size());
}

}  // namespace
